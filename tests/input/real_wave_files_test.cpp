// WAVE and RF64 files written by ffmpeg and sox, read back and compared with
// the signal they were made from.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "input/input_selection.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

TEST(RealWaveFiles, FfmpegAndSoxFilesMatchTheSourceSignal) {
    struct Case {
        Args tool;  // the command before the output path; "IN" is the float source
        uint32_t channels, rate;
        const char* name;
        ChannelLayout layout;
        double tolerance;  // one step of the stored format
    };
    const auto ffmpeg = [](const char* codec, const Args& extra = {}) {
        return joined({"ffmpeg", "-v", "error", "-y", "-i", "IN", "-c:a", codec}, extra);
    };
    const auto sox = [](const char* bits) {
        // -D: no dither, so each sample is the rounded source value.
        return Args{"sox", "-D", "IN", "-e", "signed-integer", "-b", bits};
    };
    const double step16 = 1.0 / 32768.0;
    const double step24 = 1.0 / 8388608.0;  // also bounds 32-bit files made from float sources
    const std::vector<Case> cases = {
        {ffmpeg("pcm_s16le"), 2, 44100, "ffmpeg16.wav", ChannelLayout::Stereo, step16},
        {ffmpeg("pcm_s24le"), 6, 48000, "ffmpeg24.wav", ChannelLayout::Surround51, step24},
        {ffmpeg("pcm_s32le"), 8, 48000, "ffmpeg32.wav", ChannelLayout::Surround71, step24},
        {ffmpeg("pcm_f32le"), 2, 44100, "ffmpegf.wav", ChannelLayout::Stereo, 0.0},
        {ffmpeg("pcm_s16le", {"-rf64", "always", "-f", "wav"}), 2, 48000, "ffmpeg.rf64", ChannelLayout::Stereo, step16},
        {sox("16"), 1, 96000, "sox16.wav", ChannelLayout::Mono, step16},
        {sox("24"), 1, 96000, "sox24.wav", ChannelLayout::Mono, step24},
        {sox("32"), 1, 96000, "sox32.wav", ChannelLayout::Mono, step24},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::vector<float> signal = tools::make_test_signal({c.rate, c.channels, 0.25, 0.6, true, 3});
        const std::string source = dir.file("source.wav");
        tools::write_wav(source, signal, c.rate, c.channels, 32);
        Args argv = joined(c.tool, {dir.file(c.name)});
        std::replace(argv.begin(), argv.end(), std::string("IN"), source);
        const ProcessResult made = run_process(argv);
        ASSERT_EQ(made.exit_code, 0) << made.err;

        const PcmBuffer pcm = read_input(dir.file(c.name));
        EXPECT_EQ(std::pair(pcm.sample_rate, pcm.layout), std::pair(c.rate, c.layout)) << c.name;
        ASSERT_EQ(pcm.samples.size(), signal.size()) << c.name;
        double worst = 0.0;
        for (size_t i = 0; i < signal.size(); ++i) worst = std::max(worst, std::fabs(double{pcm.samples[i]} - signal[i]));
        EXPECT_LE(worst, c.tolerance) << c.name;
        // The streaming reader finds the same data chunk.
        const StreamEligibility facts = can_stream_preprocess(dir.file(c.name));
        EXPECT_TRUE(facts.eligible) << c.name;
        EXPECT_EQ(facts.total_frames, signal.size() / c.channels) << c.name;
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file_bytes(dir.file("ffmpeg.rf64")).data()), 4), "RF64");
}

}  // namespace
}  // namespace oskavi::test
