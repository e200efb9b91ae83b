#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/frame_encoder.h"
#include "stream/streaming_matrix.h"
#include "tests/support/ac3_decode.h"
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
    tools::SignalShape shape{rate, 2, seconds, 1.0, false, 7};
    std::vector<float> samples = tools::make_test_signal(shape);
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

template <typename Call>
std::string error_of(const Call& call) {
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "<no error>";
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
        const std::string name = extra.back();
        ASSERT_TRUE(streamed.exit_code == 0 && reference.exit_code == 0) << name << streamed.err << reference.err;
        EXPECT_NE(streamed.out.find("Processing: stateful streaming matrix preprocess -> 48000 Hz"), std::string::npos);
        EXPECT_TRUE(test::file_bytes(dir_.file("streamed.ac3")) == test::file_bytes(dir_.file("whole.ac3"))) << name;
        EXPECT_EQ(steering_values(streamed.out), steering_values(reference.out)) << name;
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
        PreprocessOptions options;
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
        // D = 882 frames of surround tail at 44.1 kHz, then the 160/147 conversion.
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
    const test::ProcessResult run = test::run_oskavi({input, dir_.file("silent.ac3"), "--matrix-decode"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<uint8_t> frame = make_silent_frame(6, EncoderOptions{});
    const uint64_t count = ac3_frame_count(matrix_output_frames(44100, 22050, 20.0));
    std::vector<uint8_t> expected;
    for (uint64_t i = 0; i < count; ++i) expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(test::file_bytes(dir_.file("silent.ac3")), expected);
    ASSERT_EQ(test::run_oskavi({input, dir_.file("whole.ac3"), "--matrix-decode", "--no-streaming"}).exit_code, 0);
    EXPECT_EQ(test::file_bytes(dir_.file("whole.ac3")), expected);
}

TEST_F(StreamingMatrix, RefusesLfeGenerationAndBadInputsBeforeWriting) {
    const std::string message =
        "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1";
    PreprocessOptions generate;
    generate.bass_mode = BassMode::GenerateLfe;
    // A file that does not exist is never opened: the option check comes first.
    const std::string missing = dir_.file("missing.wav");
    EXPECT_EQ(error_of([&] { encode_wav_streaming_matrix(missing, dir_.file("x"), {}, generate, 20.0, nullptr, {}); }),
              message);
    const std::string input = dir_.file("in.wav");
    tools::write_wav(input, steered_music(48000, 0.2), 48000, 2, 16);
    const test::ProcessResult run =
        test::run_oskavi({input, dir_.file("lfe.ac3"), "--matrix-decode", "--generate-lfe"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err, "Error: " + message + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("lfe.ac3")));

    EXPECT_EQ(error_of([&] { encode_wav_streaming_matrix(input, dir_.file("y.ac3"), {}, {}, 40.01, nullptr, {}); }),
              "matrix rear delay must be within 0..40 ms");
    EXPECT_FALSE(std::filesystem::exists(dir_.file("y.ac3")));
}

}  // namespace
}  // namespace oskavi
