// The options that set the stream's metadata, bandwidth and dynamic range
// control, through the built binary: refusals, every BSI value read back from
// the frames, the coded bandwidth against FFmpeg's, and the gains FFmpeg's
// decoder applies.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ac3_decode.h"
#include "tests/support/bsi_reader.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

using Args = std::vector<std::string>;

std::string music(const TempDirectory& dir, uint32_t channels, double seconds = 1.0) {
    const std::string path = dir.file("music" + std::to_string(channels) + ".wav");
    if (!std::filesystem::exists(path))
        tools::write_wav(path, tools::make_test_signal({48000, channels, seconds, 0.6, true, 1}), 48000, channels, 16);
    return path;
}

// Encodes and returns the frames, after checking the run, the verifier and a
// clean decode.
std::vector<FrameInfo> encode_and_read(const TempDirectory& dir, const std::string& input, const Args& options,
                                       uint32_t channels) {
    const std::string output = dir.file("out.ac3");
    Args args{input, output, "--quiet"};
    args.insert(args.end(), options.begin(), options.end());
    const ProcessResult r = run_oskavi(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(run_oskavi({"--verify", output}).exit_code, 0);
    EXPECT_EQ(decode_ac3(output, channels).errors, "");
    return read_frames(output);
}

TEST(StreamOptions, BadValuesAreRefusedBeforeAnyOutput) {
    const std::string profiles = "none, film-light, film-standard, music-light, music-standard or speech";
    const std::vector<std::pair<Args, std::string>> cases = {
        {{"--bandwidth", "6999"}, "--bandwidth must be auto, full or a frequency within 7000..20500 Hz"},
        {{"--bandwidth", "wide"}, "--bandwidth must be auto, full or a frequency within 7000..20500 Hz"},
        {{"--center-mix-level", "-4"}, "--center-mix-level must be -3, -4.5 or -6"},
        {{"--surround-mix-level", "-4.5"}, "--surround-mix-level must be -3, -6 or off"},
        {{"--surround-encoded", "maybe"}, "--surround-encoded must be yes, no or unset"},
        {{"--service", "music"},
         "--service must be main, music-effects, visually-impaired, hearing-impaired, dialogue, commentary, "
         "emergency, voice-over (mono) or karaoke (other layouts)"},
        {{"--mixing-level", "112"}, "--mixing-level must be within 80..111 dB SPL"},
        {{"--room-type", "huge"}, "--room-type must be large, small or unset"},
        {{"--preferred-downmix", "prologic"}, "--preferred-downmix must be ltrt, loro or unset"},
        {{"--ltrt-center-level", "-2"}, "--ltrt-center-level must be 3, 1.5, 0, -1.5, -3, -4.5, -6 or off"},
        {{"--loro-surround-level", "0"}, "--loro-surround-level must be -1.5, -3, -4.5, -6 or off"},
        {{"--surround-ex", "on"}, "--surround-ex must be yes, no or unset"},
        {{"--headphone-encoded", "1"}, "--headphone-encoded must be yes, no or unset"},
        {{"--ad-converter", "cd"}, "--ad-converter must be standard or hdcd"},
        {{"--drc-profile", "film"}, "--drc-profile must be " + profiles},
        {{"--rf-drc-profile", "loud"}, "--rf-drc-profile must be " + profiles},
        {{"--drc-profile"}, "Unknown option: --drc-profile"},
    };
    const TempDirectory dir;
    for (const auto& [options, message] : cases) {
        Args args{music(dir, 2), dir.file("out.ac3")};
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2) << options[0];
        EXPECT_EQ(r.err, "Error: " + message + "\n");
        EXPECT_EQ(r.out, "") << options[0];
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3"))) << options[0];
    }
}

TEST(StreamOptions, EveryBsiValueIsReadBackFromEveryFrame) {
    struct Case {
        uint32_t channels;
        Args options;
        std::function<void(const FrameInfo&)> check;
    };
    const std::vector<Case> cases = {
        {1, {}, [](const FrameInfo& f) {
             EXPECT_EQ(f.bsid, 8u);
             EXPECT_EQ(f.bsmod, 0u);
             EXPECT_FALSE(f.cmixlev || f.surmixlev || f.dsurmod || f.compr || f.mixlevel || f.xbsi1 || f.xbsi2);
             EXPECT_EQ(f.copyrightb, 0u);
             EXPECT_EQ(f.origbs, 1u);
         }},
        {1, {"--service", "voice-over", "--copyright", "--copy", "--center-mix-level", "-3"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.bsmod, 7u);
             EXPECT_FALSE(f.cmixlev);  // no centre channel beside a left and right one
             EXPECT_EQ(f.copyrightb, 1u);
             EXPECT_EQ(f.origbs, 0u);
         }},
        {2, {"--surround-encoded", "yes", "--service", "commentary", "--mixing-level", "100"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.dsurmod, 2u);
             EXPECT_EQ(f.bsmod, 5u);
             EXPECT_EQ(f.mixlevel, 20u);
             EXPECT_EQ(f.roomtyp, 0u);
         }},
        {2, {"--surround-encoded", "no", "--room-type", "small", "--surround-mix-level", "-6"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.dsurmod, 1u);
             EXPECT_FALSE(f.surmixlev);
             EXPECT_EQ(f.mixlevel, 25u);
             EXPECT_EQ(f.roomtyp, 2u);
         }},
        {6, {"--center-mix-level", "-6", "--surround-mix-level", "off", "--room-type", "large", "--service", "karaoke"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.cmixlev, 2u);
             EXPECT_EQ(f.surmixlev, 2u);
             EXPECT_FALSE(f.dsurmod);
             EXPECT_EQ(f.roomtyp, 1u);
             EXPECT_EQ(f.bsmod, 7u);
             EXPECT_EQ(f.bsid, 8u);
         }},
        {6, {"--preferred-downmix", "loro", "--ltrt-center-level", "+1.5", "--loro-surround-level", "off"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.bsid, 6u);
             EXPECT_EQ(f.xbsi1, (std::vector<uint32_t>{2, 4 - 3, 4, 4, 7}));
             EXPECT_FALSE(f.xbsi2);
         }},
        {2, {"--surround-ex", "yes", "--headphone-encoded", "no", "--ad-converter", "hdcd"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.bsid, 6u);
             EXPECT_FALSE(f.xbsi1);
             EXPECT_EQ(f.xbsi2, (std::vector<uint32_t>{2, 1, 1, 0, 0}));
         }},
        {1, {"--ltrt-surround-level", "-1.5", "--loro-center-level", "off", "--ad-converter", "standard"},
         [](const FrameInfo& f) {
             EXPECT_EQ(f.xbsi1, (std::vector<uint32_t>{0, 4, 3, 7, 4}));
             EXPECT_EQ(f.xbsi2, (std::vector<uint32_t>{0, 0, 0, 0, 0}));
         }},
    };
    const TempDirectory dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::vector<FrameInfo> frames = encode_and_read(dir, music(dir, c.channels), c.options, c.channels);
        ASSERT_EQ(frames.size(), 32u);
        for (const FrameInfo& f : frames) c.check(f);
    }
}

double edge_hz(uint32_t chbwcod) { return (73 + 3 * chbwcod) * 93.75; }

TEST(StreamOptions, BandwidthFullMatchesFfmpegAndAFixedEdgeHoldsInEveryFrame) {
    const TempDirectory dir;
    const std::string input = music(dir, 2, 2.0);
    const std::string peer = dir.file("peer.ac3");
    ASSERT_EQ(run_process({"ffmpeg", "-nostdin", "-v", "error", "-i", input, "-c:a", "ac3", "-b:a", "448k", peer}).exit_code,
              0);
    const std::vector<FrameInfo> theirs = read_frames(peer);
    ASSERT_FALSE(theirs.empty());
    ASSERT_FALSE(theirs[0].chbwcod.empty()) << "the peer stream uses coupling";
    const double peer_edge = edge_hz(theirs[0].chbwcod[0]);
    EXPECT_NEAR(peer_edge, 20300.0, 100.0);

    for (const FrameInfo& f : encode_and_read(dir, input, {"--bandwidth", "full"}, 2)) {
        ASSERT_EQ(f.chbwcod.size(), 2u);
        for (uint32_t code : f.chbwcod) EXPECT_NEAR(edge_hz(code), peer_edge, 93.75);
    }
    // 12345 Hz lies in bin 131; the grid 73 + 3 i rounds it down to 130.
    for (const FrameInfo& f : encode_and_read(dir, input, {"--bandwidth", "12345", "--no-coupling"}, 2)) {
        for (uint32_t code : f.chbwcod) EXPECT_EQ(73 + 3 * code, 130u);
    }
}

// A 1 kHz mono tone held at each level for 1.5 s.
constexpr double kStepSeconds = 1.5;
const std::vector<double> kToneLevels = {-70, -60, -50, -40, -30, -20, -10, 0};

std::string stepped_tone_wav(const TempDirectory& dir) {
    std::vector<float> samples;
    const auto step = static_cast<std::size_t>(48000 * kStepSeconds);
    for (double level : kToneLevels) {
        const double amplitude = std::pow(10.0, level / 20.0);
        for (std::size_t n = 0; n < step; ++n)
            samples.push_back(static_cast<float>(amplitude * std::sin(2.0 * M_PI * 1000.0 * n / 48000.0)));
    }
    tools::write_wav(dir.file("tone.wav"), samples, 48000, 1, 32);
    return dir.file("tone.wav");
}

std::vector<float> ffmpeg_decode(const std::string& path, const Args& decoder_options) {
    const DecodedAc3 decoded = decode_ac3(path, 1, decoder_options);
    EXPECT_EQ(decoded.errors, "");
    return decoded.samples;
}

// Level in dB (full-scale sine = 0) of the last half second of each step.
std::vector<double> settled_levels(const std::vector<float>& decoded) {
    std::vector<double> levels;
    const auto step = static_cast<std::size_t>(48000 * kStepSeconds);
    for (std::size_t s = 0; s < kToneLevels.size(); ++s) {
        double sum = 0.0;
        const std::size_t end = (s + 1) * step;
        for (std::size_t n = end - 24000; n < end; ++n) sum += static_cast<double>(decoded.at(n)) * decoded.at(n);
        levels.push_back(10.0 * std::log10(2.0 * sum / 24000.0));
    }
    return levels;
}

// The profiles' static curves at the tone levels, dialogue at -31 dBFS,
// worked out by hand from the profile table.
TEST(StreamOptions, LineModeGainsFollowTheProfileCurvesThroughTheDecoder) {
    const std::vector<std::pair<std::string, std::vector<double>>> profiles = {
        {"film-standard", {6, 6, 6, 4.5, 0, -3, -10.7, -20.2}},
        {"film-light", {6, 6, 4.5, 0, 0, -0.5, -5.95, -15.45}},
        {"music-light", {12, 9.5, 4.5, 0, 0, -0.5, -5.5, -10.5}},
        {"music-standard", {12, 12, 9.5, 4.5, 0, -3, -10.7, -20.2}},
        {"speech", {15, 15, 15, 7.2, 0, -3, -10.7, -20.2}},
    };
    const TempDirectory dir;
    const std::string input = stepped_tone_wav(dir);
    for (const auto& [profile, gains] : profiles) {
        SCOPED_TRACE(profile);
        const std::string output = dir.file(profile + ".ac3");
        ASSERT_EQ(run_oskavi({input, output, "--quiet", "--bitrate", "192", "--drc-profile", profile}).exit_code, 0);
        const std::vector<double> applied = settled_levels(ffmpeg_decode(output, {}));
        const std::vector<double> ignored = settled_levels(ffmpeg_decode(output, {"-drc_scale", "0"}));
        for (std::size_t s = 0; s < kToneLevels.size(); ++s) {
            EXPECT_NEAR(ignored[s], kToneLevels[s], 0.5) << kToneLevels[s];
            EXPECT_NEAR(applied[s] - ignored[s], gains[s], 1.0) << kToneLevels[s];
        }
    }
}

TEST(StreamOptions, RfModeGainKeepsTheLiftedPeaksBelowFullScale) {
    const TempDirectory dir;
    const std::string input = stepped_tone_wav(dir);
    const std::string output = dir.file("rf.ac3");
    ASSERT_EQ(run_oskavi({input, output, "--quiet", "--rf-drc-profile", "film-standard"}).exit_code, 0);
    for (const FrameInfo& f : read_frames(output)) EXPECT_TRUE(f.compr.has_value());
    const std::vector<float> heavy = ffmpeg_decode(output, {"-heavy_compr", "1"});
    const std::vector<double> applied = settled_levels(heavy);
    const std::vector<double> plain = settled_levels(ffmpeg_decode(output, {"-drc_scale", "0"}));
    // The decoder's RF mode adds 11 dB; with it no sample may pass full scale.
    float peak = 0.0f;
    for (float s : heavy) peak = std::max(peak, std::fabs(s));
    EXPECT_LE(peak * std::pow(10.0, 11.0 / 20.0), 1.0);
    EXPECT_GT(applied.front() - plain.front(), 3.0);  // quiet passages are lifted
    EXPECT_LT(applied.back() - plain.back(), -11.0);  // full scale comes down by at least the lift
}

}  // namespace
}  // namespace oskavi::test
