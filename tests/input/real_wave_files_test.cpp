// WAVE and RF64 files written by ffmpeg and sox, read back and compared with
// the signal they were made from.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "input/input_selection.h"
#include "input/streaming_wave_reader.h"
#include "input/wave_reader.h"
#include "tests/input/input_test_files.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

constexpr uint32_t kFrames = 12000;

std::vector<float> stream_all(const std::string& path, uint64_t block_frames) {
    StreamingWaveReader reader;
    reader.open(path);
    std::vector<float> all;
    std::vector<float> block;
    while (reader.read_frames(block_frames, block)) {
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

double max_abs_difference(const std::vector<float>& a, const std::vector<float>& b) {
    double worst = 0.0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::fabs(static_cast<double>(a[i]) - b[i]));
    }
    return worst;
}

// Converts raw float input into a WAVE file of the given ffmpeg codec.
std::string ffmpeg_wave(const TempDir& dir, const std::vector<float>& signal, uint32_t channels,
                        uint32_t rate, const std::string& codec, bool rf64) {
    const std::string raw = dir.file(codec + std::to_string(channels) + ".raw");
    const std::string wav = dir.file(codec + std::to_string(channels) + (rf64 ? ".rf64" : ".wav"));
    write_raw_float(raw, signal);
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-f", "f32le", "-ar", std::to_string(rate),
                                     "-ac", std::to_string(channels), "-i", raw, "-c:a", codec};
    if (rf64) {
        argv.insert(argv.end(), {"-rf64", "always", "-f", "wav"});
    }
    argv.push_back(wav);
    run_tool(argv);
    return wav;
}

TEST(RealWaveFiles, FfmpegDepthsMatchTheSourceSignal) {
    TempDir dir;
    const std::vector<float> signal = test_signal(2, kFrames, 44100);
    struct Case {
        std::string codec;
        double tolerance;  // one step of the stored format
    };
    const std::vector<Case> cases = {
        {"pcm_s16le", 1.0 / 32768.0},
        {"pcm_s24le", 1.0 / 8388608.0},
        {"pcm_s32le", 1.0 / 8388608.0},  // bounded by the float source, not the container
        {"pcm_f32le", 0.0},
    };
    for (const Case& c : cases) {
        const std::string path = ffmpeg_wave(dir, signal, 2, 44100, c.codec, false);
        const PcmBuffer pcm = read_wave_file(path);
        EXPECT_EQ(pcm.sample_rate, 44100u) << c.codec;
        EXPECT_EQ(pcm.channels, 2u) << c.codec;
        EXPECT_EQ(pcm.layout, ChannelLayout::Stereo) << c.codec;
        ASSERT_EQ(pcm.samples.size(), signal.size()) << c.codec;
        EXPECT_LE(max_abs_difference(pcm.samples, signal), c.tolerance) << c.codec;
        EXPECT_EQ(stream_all(path, 1000), pcm.samples) << c.codec;
    }
}

TEST(RealWaveFiles, FfmpegSurroundLayoutsAreExtensible) {
    TempDir dir;
    for (const uint32_t channels : {6u, 8u}) {
        const std::vector<float> signal = test_signal(channels, kFrames, 48000);
        const std::string path = ffmpeg_wave(dir, signal, channels, 48000, "pcm_s24le", false);
        const PcmBuffer pcm = read_wave_file(path);
        EXPECT_EQ(pcm.layout, channels == 6 ? ChannelLayout::Surround51 : ChannelLayout::Surround71);
        EXPECT_EQ(pcm.channels, channels);
        EXPECT_LE(max_abs_difference(pcm.samples, signal), 1.0 / 8388608.0) << channels;
        const StreamEligibility facts = can_stream_preprocess(path);
        EXPECT_TRUE(facts.eligible) << channels;
        EXPECT_EQ(facts.total_frames, kFrames);
        EXPECT_EQ(stream_all(path, 4096), pcm.samples) << channels;
    }
}

TEST(RealWaveFiles, FfmpegRf64IsSizedByDs64) {
    TempDir dir;
    const std::vector<float> signal = test_signal(2, kFrames, 48000);
    const std::string path = ffmpeg_wave(dir, signal, 2, 48000, "pcm_s16le", true);
    const std::vector<uint8_t> bytes = file_bytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RF64");
    const PcmBuffer pcm = read_wave_file(path);
    ASSERT_EQ(pcm.samples.size(), signal.size());
    EXPECT_LE(max_abs_difference(pcm.samples, signal), 1.0 / 32768.0);
    EXPECT_EQ(read_input(path).samples, pcm.samples);
    EXPECT_EQ(stream_all(path, 4096), pcm.samples);
}

TEST(RealWaveFiles, SoxIntegerFilesMatchTheSourceSignal) {
    TempDir dir;
    const std::vector<float> signal = test_signal(1, kFrames, 96000);
    const std::string raw = dir.file("mono.raw");
    write_raw_float(raw, signal);
    for (const int bits : {16, 24, 32}) {
        const std::string wav = dir.file("sox" + std::to_string(bits) + ".wav");
        // -D: no dither, so each sample is the rounded source value.
        run_tool({"sox", "-D", "-t", "raw", "-r", "96000", "-e", "floating-point", "-b", "32", "-c", "1", raw,
                  "-e", "signed-integer", "-b", std::to_string(bits), wav});
        const PcmBuffer pcm = read_wave_file(wav);
        EXPECT_EQ(pcm.sample_rate, 96000u);
        EXPECT_EQ(pcm.layout, ChannelLayout::Mono);
        ASSERT_EQ(pcm.samples.size(), signal.size()) << bits;
        const double step = bits == 16 ? 1.0 / 32768.0 : 1.0 / 8388608.0;
        EXPECT_LE(max_abs_difference(pcm.samples, signal), step) << bits;
    }
}

}  // namespace
}  // namespace oskavi::test
