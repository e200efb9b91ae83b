#pragma once
// Run-time binding of libFLAC's stream decoder. The library is never linked
// at build time: it is searched beside the executable, then through the
// system loader, and its entry points are bound by name.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"

namespace oskavi {

// The parts of libFLAC's C ABI this program touches. The decoder itself is
// opaque; a decoded frame is only read through the leading header fields of
// FLAC__Frame (FLAC__FrameHeader comes first and starts with these five).
struct FlacDecoder;

// FLAC__StreamMetadata as far as it is read: the block type, and for a
// STREAMINFO block (type 0) its fields up to the declared sample count per
// channel (0 when the encoder did not know it). The data union starts at an
// 8-byte boundary, so the layout follows from natural alignment.
struct FlacStreamMetadata {
    int32_t type;
    int32_t is_last;
    uint32_t length;
    struct {
        uint32_t min_blocksize;
        uint32_t max_blocksize;
        uint32_t min_framesize;
        uint32_t max_framesize;
        uint32_t sample_rate;
        uint32_t channels;
        uint32_t bits_per_sample;
        uint64_t total_samples;
    } stream_info;
};
inline constexpr int32_t kFlacMetadataStreamInfo = 0;

struct FlacFrameHeader {
    uint32_t blocksize;
    uint32_t sample_rate;
    uint32_t channels;
    int32_t channel_assignment;
    uint32_t bits_per_sample;
};

using FlacBool = int;  // FLAC__bool

// Return values of the write callback (FLAC__StreamDecoderWriteStatus).
inline constexpr int kFlacWriteContinue = 0;
inline constexpr int kFlacWriteAbort = 1;

using FlacWriteCallback = int (*)(const FlacDecoder* decoder, const FlacFrameHeader* frame,
                                  const int32_t* const buffer[], void* client_data);
using FlacMetadataCallback = void (*)(const FlacDecoder* decoder, const FlacStreamMetadata* metadata,
                                      void* client_data);
using FlacErrorCallback = void (*)(const FlacDecoder* decoder, int status, void* client_data);

using FlacDecoderNew = FlacDecoder* (*)();
using FlacDecoderDelete = void (*)(FlacDecoder* decoder);
using FlacDecoderInitFile = int (*)(FlacDecoder* decoder, const char* filename, FlacWriteCallback write,
                                    FlacMetadataCallback metadata, FlacErrorCallback error,
                                    void* client_data);
using FlacDecoderProcessUntilEnd = FlacBool (*)(FlacDecoder* decoder);
using FlacDecoderFinish = FlacBool (*)(FlacDecoder* decoder);
using FlacDecoderSetMd5Checking = FlacBool (*)(FlacDecoder* decoder, FlacBool value);
using FlacDecoderResolvedStateString = const char* (*)(const FlacDecoder* decoder);

// The seven entry points, in binding order. The first five are required.
struct FlacEntryPoints {
    FlacDecoderNew decoder_new = nullptr;
    FlacDecoderDelete decoder_delete = nullptr;
    FlacDecoderInitFile init_file = nullptr;
    FlacDecoderProcessUntilEnd process_until_end_of_stream = nullptr;
    FlacDecoderFinish finish = nullptr;
    FlacDecoderSetMd5Checking set_md5_checking = nullptr;          // optional
    FlacDecoderResolvedStateString resolved_state_string = nullptr;  // optional
};

// Where to look: every directory with every name in turn (full paths), then,
// when system_search is set, every bare name through the loader's search.
struct FlacLibrarySearch {
    std::vector<std::string> directories;
    std::vector<std::string> names;
    bool system_search = true;
};

// The process's search: the executable's directory, then the system loader,
// for each of the system's libFLAC file names.
FlacLibrarySearch default_flac_library_search();

class FlacLibrary {
public:
    explicit FlacLibrary(const FlacLibrarySearch& search);

    // The process-wide binding, created on first use (thread-safe) and kept
    // until exit.
    static const FlacLibrary& instance();

    bool available() const;
    // Why the library is unavailable; empty when it loaded completely.
    const std::string& error_message() const { return error_message_; }
    const FlacEntryPoints& entry_points() const { return entry_points_; }

private:
    void bind_entry_points();

    DynamicLibrary library_;
    std::string error_message_;
    FlacEntryPoints entry_points_;
};

}  // namespace oskavi
