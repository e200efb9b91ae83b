// The streaming preprocess route holds a workspace that does not grow with the
// input. Its bytes against the whole-file route: tests/app/encode_routes_test.cpp.

#include "stream/streaming_preprocess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/input_selection.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

std::vector<float> music(uint32_t rate, uint32_t channels, uint64_t frames) {
    std::vector<float> samples =
        tools::make_test_signal({rate, channels, static_cast<double>(frames) / rate + 0.01, 0.6, true, 1});
    samples.resize(frames * channels);
    return samples;
}

class StreamingPreprocess : public ::testing::Test {
protected:
    std::string write_input(const std::string& name, const std::vector<float>& samples, uint32_t rate,
                            uint32_t channels, uint32_t bits = 32) {
        tools::write_wav(dir_.file(name), samples, rate, channels, bits);
        return dir_.file(name);
    }

    StreamingSummary stream(const std::string& input, const PreprocessSettings& preprocess) {
        return encode_wav_streaming_preprocess(input, dir_.file("streamed.ac3"), {}, preprocess, {});
    }
    test::TempDirectory dir_;
};

TEST_F(StreamingPreprocess, WorkspaceDoesNotGrowWithTheInput) {
    // One 4096-frame block, the rate stage's window and its 160 x 47 taps,
    // whether the input lasts 2 or 20 seconds.
    uint32_t bytes[2] = {};
    for (const uint64_t seconds : {20u, 2u}) {
        const std::string input = write_input("long.wav", music(44100, 2, seconds * 44100), 44100, 2, 16);
        const StreamPassStats stats = run_preprocess_pass(read_stream_header(input), {}, 1.0f, false, 1.0f, "", {}, nullptr);
        EXPECT_EQ(stats.frames, seconds * 44100 * 160 / 147);
        bytes[seconds == 20] = stats.buffer_bytes;
    }
    EXPECT_EQ(bytes[0], bytes[1]);
    const uint32_t fixed = 4 * 4096 * 2 + 8 * 160 * 47;
    EXPECT_GE(bytes[0], fixed);
    EXPECT_LE(bytes[0], fixed + 4 * 2 * 70);

    // The route's peak is the largest of its passes and the 1792-frame sink.
    EXPECT_EQ(stream(dir_.file("long.wav"), {}).peak_workspace_bytes, bytes[0]);
    const std::string mono = write_input("mono48.wav", music(48000, 1, 20000), 48000, 1);
    EXPECT_EQ(stream(mono, {}).peak_workspace_bytes, 4u * 4096);  // the block beats 4 x 3584 of sink
}

}  // namespace
}  // namespace oskavi
