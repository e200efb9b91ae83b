#pragma once
// Block-wise WAVE/RF64 reader: parses the header once, then hands out
// interleaved float frames in blocks of the caller's size. Memory is bounded
// by one block (a reused byte buffer and the caller's output array).

#include <cstdint>
#include <string>
#include <vector>

#include "input/pcm_buffer.h"
#include "input/sample_conversion.h"
#include "platform/binary_file.h"

namespace oskavi {

class StreamingWaveReader {
public:
    StreamingWaveReader() = default;
    StreamingWaveReader(const StreamingWaveReader&) = delete;
    StreamingWaveReader& operator=(const StreamingWaveReader&) = delete;

    // Parses the chunks up to the first `data` chunk and positions the file at
    // its first byte. Unlike the whole-file reader, a `fmt ` after `data` is
    // not seen, and data sizes of 4 GiB and more are accepted.
    void open(const std::string& path);

    // Fills `out` with up to n_max interleaved frames; false (with `out`
    // emptied) when no frames are left or n_max is 0.
    bool read_frames(uint64_t n_max, std::vector<float>& out);
    // Moves past up to n_max frames as read_frames would deliver them, with
    // the same checks of the data chunk against the file, without reading
    // them; returns how many (0 when none are left or n_max is 0).
    uint64_t skip_frames(uint64_t n_max);
    // Whether the samples are whole numbers (integer PCM), so that none can
    // be NaN and skipping them loses nothing a pass counts.
    bool whole_number_samples() const { return encoding_ != SampleEncoding::Float32; }

    uint32_t sample_rate() const { return sample_rate_; }
    uint32_t channels() const { return channels_; }
    ChannelLayout layout() const { return layout_; }
    uint64_t total_frames() const { return total_frames_; }
    // NaN float samples read as 0.0 so far.
    uint64_t nan_samples() const { return nan_samples_; }

private:
    // The byte count of the next min(n_max, remaining) frames, checked
    // against the file; 0 when none are left.
    uint64_t next_block_bytes(uint64_t n_max) const;
    uint64_t frame_bytes() const { return uint64_t{channels_} * bytes_per_sample(encoding_); }

    std::string path_;
    BinaryInputFile in_;
    uint32_t sample_rate_ = 0;
    uint32_t channels_ = 0;
    ChannelLayout layout_ = ChannelLayout::Unknown;
    SampleEncoding encoding_ = SampleEncoding::Pcm16;
    uint64_t data_offset_ = 0;
    uint64_t data_size_ = 0;
    uint64_t total_frames_ = 0;
    uint64_t frames_delivered_ = 0;
    uint64_t nan_samples_ = 0;
    bool skipped_since_read_ = false;
    std::vector<uint8_t> bytes_;
};

}  // namespace oskavi
