// The streaming matrix route against the whole-file route of the binary:
// same bytes and steering, its passes, the delayed tail, silence and refusals.

#include "stream/streaming_matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "ac3/frame_encoder.h"
#include "tests/support/ac3_decode.h"
#include "tests/support/error_of.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

using Strings = std::vector<std::string>;

// Identical channels near full scale: the decoded centre reaches sqrt(2) times
// them, so the matrix scale engages. R is inverted in the second half, so the
// surround steers too.
std::vector<float> steered_music(uint32_t rate, double seconds) {
    std::vector<float> samples = tools::make_test_signal({rate, 2, seconds, 1.0, false, 7});
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::fabs(s));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] *= (i % 2 == 1 && i >= samples.size() / 2 ? -0.95f : 0.95f) / peak;
    return samples;
}

// "max C steer X, max S steer Y" of the report's Matrix: line.
std::string steering_values(const std::string& report) {
    std::smatch match;
    if (!std::regex_search(report, match, std::regex("Matrix: .*(max C steer [0-9.]+, max S steer [0-9.]+)")))
        return "<no Matrix: line>";
    return match[1];
}

class StreamingMatrix : public ::testing::Test {
protected:
    test::TempDirectory dir_;
};

TEST_F(StreamingMatrix, WritesTheSameBytesAndSteeringAsTheWholeFileRoute) {
    for (const Strings& extra : {Strings{"48000"}, Strings{"44100"}, Strings{"96000", "--rear-delay", "0"},
                                 Strings{"96000", "--thx"}}) {
        const uint32_t rate = static_cast<uint32_t>(std::stoul(extra[0]));
        const std::string input = dir_.file("in.wav");
        tools::write_wav(input, steered_music(rate, 0.8), rate, 2, 32);
        EXPECT_LT(analyse_matrix(input, {}).matrix_scale, 1.0f) << "the decoded bed exceeds 1.0";
        Strings streaming{input, dir_.file("streamed.ac3"), "--matrix-decode"};
        streaming.insert(streaming.end(), extra.begin() + 1, extra.end());
        Strings whole = streaming;
        whole[1] = dir_.file("whole.ac3");
        whole.push_back("--no-streaming");
        const test::ProcessResult streamed = test::run_oskavi(streaming);
        const test::ProcessResult reference = test::run_oskavi(whole);
        ASSERT_EQ(streamed.exit_code + reference.exit_code, 0) << streamed.err << reference.err;
        EXPECT_NE(streamed.out.find("Processing: stateful streaming matrix preprocess -> 48000 Hz"), std::string::npos);
        EXPECT_TRUE(test::file_bytes(dir_.file("streamed.ac3")) == test::file_bytes(dir_.file("whole.ac3")))
            << extra.back();
        EXPECT_EQ(steering_values(streamed.out), steering_values(reference.out)) << extra.back();
    }
    // The last stream (--thx) carries a bass-managed LFE; the reference decoder takes it cleanly.
    EXPECT_EQ(test::decode_ac3(dir_.file("streamed.ac3"), 6).errors, "");
}

TEST_F(StreamingMatrix, RunsItsPassesAndDeliversTheDelayedTail) {
    const std::string input = dir_.file("44k.wav");
    const uint64_t frames = 30000;
    std::vector<float> samples = steered_music(44100, 0.7);
    samples.resize(frames * 2);
    tools::write_wav(input, samples, 44100, 2, 16);
    for (const bool thx : {false, true}) {
        PreprocessSettings options;
        options.bass_mode = thx ? BassMode::BassManagement : BassMode::None;
        options.thx = thx;
        Strings passes;
        const StreamProgress log = [&](const std::string& label, uint64_t, uint64_t) {
            if (passes.empty() || passes.back() != label) passes.push_back(label);
        };
        MatrixDecodeStats stats{0.0, 0.0, 0.0};
        const StreamingSummary summary =
            encode_wav_streaming_matrix(input, dir_.file("out.ac3"), {}, options, 20.0, &stats, log);
        EXPECT_EQ(passes, thx ? (Strings{"Matrix analysis", "Bass analysis", "Encoding"})
                              : (Strings{"Matrix analysis", "Encoding"}));
        // 882 frames (20 ms) of surround tail at 44.1 kHz, then the 160/147 conversion.
        EXPECT_EQ(summary.delivered_frames, (frames + 882) * 160 / 147);
        EXPECT_EQ(summary.ac3_frames, ac3_frame_count(summary.delivered_frames));
        EXPECT_GT(stats.max_centre_steer, 0.5);
        EXPECT_GT(stats.max_surround_steer, 0.5);
        EXPECT_EQ(stats.rear_delay_ms, 20.0);
    }
}

TEST_F(StreamingMatrix, SilentInputWritesSilentFramesWithoutEncoding) {
    const std::string input = dir_.file("silent.wav");
    tools::write_wav(input, std::vector<float>(2 * 22050, 0.0f), 44100, 2, 16);
    const std::vector<uint8_t> frame = make_silent_frame(6, EncoderSettings{});
    std::vector<uint8_t> expected;
    for (uint64_t i = 0; i < ac3_frame_count(matrix_output_frames(44100, 22050, 20.0)); ++i)
        expected.insert(expected.end(), frame.begin(), frame.end());
    for (const char* route : {"--quiet", "--no-streaming"}) {
        ASSERT_EQ(test::run_oskavi({input, dir_.file("silent.ac3"), "--matrix-decode", route}).exit_code, 0);
        EXPECT_EQ(test::file_bytes(dir_.file("silent.ac3")), expected) << route;
    }
}

TEST_F(StreamingMatrix, RefusesBadSettingsBeforeOpeningOrWriting) {
    PreprocessSettings generate;
    generate.bass_mode = BassMode::GenerateLfe;
    // A file that does not exist is never opened: the option check comes first.
    EXPECT_EQ(test::error_of([&] {
                  encode_wav_streaming_matrix(dir_.file("missing.wav"), dir_.file("x.ac3"), {}, generate, 20.0, nullptr, {});
              }),
              "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1");
    const std::string input = dir_.file("in.wav");
    tools::write_wav(input, steered_music(48000, 0.2), 48000, 2, 16);
    EXPECT_EQ(test::error_of([&] { encode_wav_streaming_matrix(input, dir_.file("y.ac3"), {}, {}, 40.01, nullptr, {}); }),
              "matrix rear delay must be within 0..40 ms");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("y.ac3")));
}

}  // namespace
}  // namespace oskavi
