#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/streaming_wave_reader.h"
#include "input/wave_reader.h"
#include "tests/input/input_test_files.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

std::string error_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

std::string whole_file_error(const std::string& path) {
    return error_of([&] { read_wave_file(path); });
}

// Opens a streaming reader and reads every frame in 4096-frame blocks.
std::string streaming_error(const std::string& path) {
    return error_of([&] {
        StreamingWaveReader reader;
        reader.open(path);
        std::vector<float> block;
        while (reader.read_frames(4096, block)) {
        }
    });
}

const Bytes kStereo16 = fmt_body(1, 2, 48000, 16);
const Bytes kFourBytes = {1, 0, 2, 0};

struct MalformedCase {
    const char* name;
    Bytes file;
    const char* whole_file_message;
    const char* streaming_message;  // where the block reader differs
};

std::vector<MalformedCase> malformed_cases() {
    const Bytes no_data;
    return {
        {"file_shorter_than_eight_bytes", {'R', 'I', 'F', 'F', 0}, "Unexpected end of WAVE file",
         "Unexpected end of WAVE file"},
        {"wrong_container_id", WaveBuilder("RIFX").chunk("fmt ", kStereo16).chunk("data", kFourBytes).bytes(),
         "Input is not RIFF/WAVE or RF64/WAVE", "Input is not RIFF/WAVE or RF64/WAVE"},
        {"wrong_form_type", WaveBuilder("RIFF", "AVI ").chunk("fmt ", kStereo16).bytes(),
         "Input is not RIFF/WAVE or RF64/WAVE", "Input is not RIFF/WAVE or RF64/WAVE"},
        {"header_only", WaveBuilder().bytes(), "Incomplete WAVE/RF64 file", "Incomplete WAVE/RF64 file"},
        {"no_fmt_chunk", WaveBuilder().chunk("data", kFourBytes).bytes(), "Incomplete WAVE/RF64 file",
         "Incomplete WAVE/RF64 file"},
        {"zero_sample_rate", canonical_wave(fmt_body(1, 2, 0, 16), kFourBytes), "Incomplete WAVE/RF64 file",
         "Incomplete WAVE/RF64 file"},
        {"empty_data_chunk", canonical_wave(kStereo16, no_data), "Incomplete WAVE/RF64 file", "(no error)"},
        {"short_ds64", WaveBuilder("RF64").chunk("ds64", Bytes(20, 0)).bytes(), "Malformed RF64 ds64 chunk",
         "Malformed RF64 ds64 chunk"},
        {"ds64_table_overflows_chunk",
         WaveBuilder("RF64").chunk("ds64", ds64_body(4, 0xFFFFFFFFu)).chunk("fmt ", kStereo16).bytes(),
         "Malformed RF64 ds64 table", "Malformed RF64 ds64 table"},
        {"ds64_one_entry_missing", WaveBuilder("RF64").chunk("ds64", ds64_body(4, 1)).bytes(),
         "Malformed RF64 ds64 table", "Malformed RF64 ds64 table"},
        {"short_fmt", WaveBuilder().chunk("fmt ", Bytes(14, 0)).bytes(), "Malformed WAVE fmt chunk",
         "Malformed WAVE fmt chunk"},
        {"extensible_extension_too_short",
         canonical_wave(fmt_extensible_body(2, 48000, 16, 3, 1, 21), kFourBytes),
         "Malformed WAVEFORMATEXTENSIBLE fmt chunk", "Malformed WAVEFORMATEXTENSIBLE fmt chunk"},
        {"rf64_data_without_ds64",
         WaveBuilder("RF64").chunk("fmt ", kStereo16).chunk_with_size("data", 0xFFFFFFFFu, kFourBytes).bytes(),
         "RF64 data chunk requires ds64 dataSize", "RF64 data chunk requires ds64 dataSize"},
        {"rf64_ds64_data_size_zero",
         WaveBuilder("RF64")
             .chunk("ds64", ds64_body(0))
             .chunk("fmt ", kStereo16)
             .chunk_with_size("data", 0xFFFFFFFFu, kFourBytes)
             .bytes(),
         "RF64 data chunk requires ds64 dataSize", "RF64 data chunk requires ds64 dataSize"},
        {"data_of_four_gibibytes",
         WaveBuilder("RF64")
             .chunk("ds64", ds64_body(uint64_t{1} << 32))
             .chunk("fmt ", kStereo16)
             .chunk_with_size("data", 0xFFFFFFFFu, kFourBytes)
             .bytes(),
         "Audio data is too large for this build", "Truncated WAVE/RF64 data chunk"},
        {"data_size_beyond_file",
         WaveBuilder().chunk("fmt ", kStereo16).chunk_with_size("data", 0xFFFFFFF0u, Bytes(56, 0)).bytes(),
         "Truncated WAVE/RF64 data chunk", "Truncated WAVE/RF64 data chunk"},
        {"adpcm_tag", canonical_wave(fmt_body(2, 2, 48000, 16), kFourBytes),
         "Unsupported WAVE encoding (PCM/IEEE float only)", "Unsupported WAVE encoding (PCM/IEEE float only)"},
        {"extensible_tag_in_short_fmt",
         canonical_wave([] {
             Bytes fmt = fmt_body(0xFFFE, 2, 48000, 16);
             fmt.resize(39, 0);
             return fmt;
         }(),
                        kFourBytes),
         "Unsupported WAVE encoding (PCM/IEEE float only)", "Unsupported WAVE encoding (PCM/IEEE float only)"},
        {"extensible_other_subformat", canonical_wave(fmt_extensible_body(2, 48000, 16, 3, 2), kFourBytes),
         "Unsupported WAVE encoding (PCM/IEEE float only)", "Unsupported WAVE encoding (PCM/IEEE float only)"},
        {"eight_bit_pcm", canonical_wave(fmt_body(1, 2, 48000, 8), kFourBytes),
         "Supported WAVE depths: 16/24/32-bit", "Supported WAVE depths: 16/24/32-bit"},
        {"sixty_four_bit_float", canonical_wave(fmt_body(3, 1, 48000, 64), Bytes(8, 0)),
         "Supported WAVE depths: 16/24/32-bit", "Supported WAVE depths: 16/24/32-bit"},
        {"sixteen_bit_float", canonical_wave(fmt_body(3, 2, 48000, 16), kFourBytes),
         "Only float32 WAVE is supported", "Only float32 WAVE is supported"},
        {"partial_stereo_frame", canonical_wave(kStereo16, Bytes(6, 0)),
         "WAVE data size is not aligned to complete sample frames",
         "WAVE data size is not aligned to complete sample frames"},
    };
}

TEST(WaveReaderMessages, EveryMalformedFileFailsWithItsMessage) {
    TempDir dir;
    for (const MalformedCase& c : malformed_cases()) {
        const std::string path = dir.file(std::string(c.name) + ".wav");
        write_file(path, c.file);
        EXPECT_EQ(whole_file_error(path), c.whole_file_message) << c.name;
        EXPECT_EQ(streaming_error(path), c.streaming_message) << c.name;
    }
}

TEST(WaveReaderMessages, MissingFileNamesThePathAsGiven) {
    TempDir dir;
    const std::string path = dir.file("absent.wav");
    EXPECT_EQ(whole_file_error(path), "Cannot open input: " + path);
    EXPECT_EQ(streaming_error(path), "Cannot open input: " + path);
}

#if !defined(__SANITIZE_ADDRESS__)
[[noreturn]] void read_with_capped_memory(const std::string& path) {
    rlimit cap{};
    cap.rlim_cur = cap.rlim_max = rlim_t{2} << 30;
    setrlimit(RLIMIT_AS, &cap);
    const bool expected = whole_file_error(path) == "Truncated WAVE/RF64 data chunk" &&
                          streaming_error(path) == "Truncated WAVE/RF64 data chunk";
    std::_Exit(expected ? 0 : 1);
}
#endif

TEST(WaveReaderMessages, HugeDeclaredDataSizeFailsWithoutAllocatingIt) {
    // 0xFFFFFFF0 bytes announced in a 100-byte file must be refused before a
    // buffer of that size exists: the read runs in a child whose address
    // space is capped at 2 GiB, where such an allocation would throw bad_alloc.
    TempDir dir;
    const Bytes file = WaveBuilder().chunk("fmt ", kStereo16).chunk_with_size("data", 0xFFFFFFF0u, Bytes(56, 0)).bytes();
    ASSERT_EQ(file.size(), 100u);
    const std::string path = dir.file("huge.wav");
    write_file(path, file);
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(whole_file_error(path), "Truncated WAVE/RF64 data chunk");
#else
    EXPECT_EXIT(read_with_capped_memory(path), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(WaveReaderMessages, TrailingBytesAfterLastChunk) {
    TempDir dir;
    const Bytes base = canonical_wave(kStereo16, kFourBytes);
    for (size_t extra = 1; extra <= 7; ++extra) {
        Bytes file = base;
        file.insert(file.end(), extra, 'x');
        const std::string path = dir.file("trailing" + std::to_string(extra) + ".wav");
        write_file(path, file);
        // Up to three bytes cannot hold a chunk id; four to seven hold an id but not its size.
        EXPECT_EQ(whole_file_error(path), extra < 4 ? "(no error)" : "Unexpected end of WAVE file") << extra;
    }
}

TEST(WaveReaderMessages, StreamingBlockLargerThanFourGibibytesIsRefused) {
    TempDir dir;
    const std::string path = dir.file("rf64.wav");
    WaveBuilder("RF64")
        .chunk("ds64", ds64_body(uint64_t{1} << 33))
        .chunk("fmt ", kStereo16)
        .chunk_with_size("data", 0xFFFFFFFFu, kFourBytes)
        .write(path);
    StreamingWaveReader reader;
    reader.open(path);
    EXPECT_EQ(reader.total_frames(), uint64_t{1} << 31);
    std::vector<float> block;
    EXPECT_EQ(error_of([&] { reader.read_frames(uint64_t{1} << 30, block); }),
              "Requested WAVE streaming chunk is too large");
    EXPECT_EQ(error_of([&] { reader.read_frames((uint64_t{1} << 30) - 1, block); }),
              "Truncated WAVE/RF64 data chunk");
}

}  // namespace
}  // namespace oskavi::test
