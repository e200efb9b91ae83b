// The options that set the stream's metadata, bandwidth and dynamic range
// control, through the built binary: every BSI value read back from the
// frames, the coded bandwidth against FFmpeg's, and the gains FFmpeg's decoder
// applies. Their refusals are in CommandLineBinary's table.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/ac3_decode.h"
#include "tests/support/bsi_reader.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

std::string music(const TempDirectory& dir, uint32_t channels, double seconds = 1.0) {
    const std::string path = dir.file("music" + std::to_string(channels) + ".wav");
    tools::write_wav(path, tools::make_test_signal({48000, channels, seconds, 0.6, true, 1}), 48000, channels, 16);
    return path;
}

// Encodes and returns the frames, after checking the run, the verifier and a
// clean decode.
std::vector<FrameInfo> encode_and_read(const TempDirectory& dir, const std::string& input, const Args& options) {
    const std::string output = dir.file("out.ac3");
    const ProcessResult r = run_oskavi(joined({input, output, "--quiet"}, options));
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(run_oskavi({"--verify", output}).exit_code, 0);
    EXPECT_EQ(decode_ac3(output).errors, "");
    return read_frames(output);
}

// Every frame carries the same BSI. Codes: bsmod 5 commentary, 7 voice-over
// or karaoke; dsurmod 1 not, 2 surround encoded; mixlevel dB SPL - 80;
// roomtyp 1 large, 2 small; cmixlev 2 -6 dB, surmixlev 2 off; dmixmod 2 Lo/Ro;
// the Lt/Rt and Lo/Ro levels from 0 (+3 dB) down in 1.5 dB steps, 7 off.
TEST(StreamOptions, EveryBsiValueIsReadBackFromEveryFrame) {
    const struct {
        uint32_t channels;
        Args options;
        std::string bsi;
    } cases[] = {
        {1, {}, "bsid=8 bsmod=0 acmod=1 lfeon=0 dialnorm=31 copyrightb=0 origbs=1"},
        // No centre channel beside a left and right one: no cmixlev.
        {1, {"--service", "voice-over", "--copyright", "--copy", "--center-mix-level", "-3"},
         "bsid=8 bsmod=7 acmod=1 lfeon=0 dialnorm=31 copyrightb=1 origbs=0"},
        {2, {"--surround-encoded", "yes", "--service", "commentary", "--mixing-level", "100"},
         "bsid=8 bsmod=5 acmod=2 dsurmod=2 lfeon=0 dialnorm=31 mixlevel=20 roomtyp=0 copyrightb=0 origbs=1"},
        {2, {"--surround-encoded", "no", "--room-type", "small", "--surround-mix-level", "-6"},
         "bsid=8 bsmod=0 acmod=2 dsurmod=1 lfeon=0 dialnorm=31 mixlevel=25 roomtyp=2 copyrightb=0 origbs=1"},
        {6, {"--center-mix-level", "-6", "--surround-mix-level", "off", "--room-type", "large", "--service", "karaoke"},
         "bsid=8 bsmod=7 acmod=7 cmixlev=2 surmixlev=2 lfeon=1 dialnorm=31 mixlevel=25 roomtyp=1 copyrightb=0 origbs=1"},
        {6, {"--preferred-downmix", "loro", "--ltrt-center-level", "+1.5", "--loro-surround-level", "off"},
         "bsid=6 bsmod=0 acmod=7 cmixlev=1 surmixlev=0 lfeon=1 dialnorm=31 copyrightb=0 origbs=1 xbsi1=2,1,4,4,7"},
        {2, {"--surround-ex", "yes", "--headphone-encoded", "no", "--ad-converter", "hdcd"},
         "bsid=6 bsmod=0 acmod=2 dsurmod=0 lfeon=0 dialnorm=31 copyrightb=0 origbs=1 xbsi2=2,1,1,0,0"},
        {1, {"--ltrt-surround-level", "-1.5", "--loro-center-level", "off", "--ad-converter", "standard"},
         "bsid=6 bsmod=0 acmod=1 lfeon=0 dialnorm=31 copyrightb=0 origbs=1 xbsi1=0,4,3,7,4 xbsi2=0,0,0,0,0"},
    };
    const TempDirectory dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        const std::vector<FrameInfo> frames = encode_and_read(dir, music(dir, c.channels), c.options);
        ASSERT_EQ(frames.size(), 32u);
        for (const FrameInfo& f : frames) EXPECT_EQ(f.bsi, c.bsi);
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

    for (const FrameInfo& f : encode_and_read(dir, input, {"--bandwidth", "full"})) {
        ASSERT_EQ(f.chbwcod.size(), 2u);
        for (uint32_t code : f.chbwcod) EXPECT_NEAR(edge_hz(code), peer_edge, 93.75);
    }
    // 12345 Hz lies in bin 131; the grid 73 + 3 i rounds it down to 130.
    for (const FrameInfo& f : encode_and_read(dir, input, {"--bandwidth", "12345", "--no-coupling"})) {
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
    const DecodedAc3 decoded = decode_ac3(path, decoder_options);
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

// Line mode: the profiles' static curves at the tone levels, dialogue at
// -31 dBFS, worked out by hand from the profile table. RF mode: the lift of
// quiet passages and the cut of loud ones, with no sample past full scale.
TEST(StreamOptions, DynamicRangeGainsFollowTheProfilesThroughTheDecoder) {
    const std::vector<std::pair<std::string, std::vector<double>>> profiles = {
        {"film-standard", {6, 6, 6, 4.5, 0, -3, -10.7, -20.2}},
        {"film-light", {6, 6, 4.5, 0, 0, -0.5, -5.95, -15.45}},
        {"music-light", {12, 9.5, 4.5, 0, 0, -0.5, -5.5, -10.5}},
        {"music-standard", {12, 12, 9.5, 4.5, 0, -3, -10.7, -20.2}},
        {"speech", {15, 15, 15, 7.2, 0, -3, -10.7, -20.2}},
    };
    const TempDirectory dir;
    const std::string input = stepped_tone_wav(dir);
    const std::string output = dir.file("drc.ac3");
    for (const auto& [profile, gains] : profiles) {
        SCOPED_TRACE(profile);
        ASSERT_EQ(run_oskavi({input, output, "--quiet", "--bitrate", "192", "--drc-profile", profile}).exit_code, 0);
        const std::vector<double> applied = settled_levels(ffmpeg_decode(output, {}));
        const std::vector<double> ignored = settled_levels(ffmpeg_decode(output, {"-drc_scale", "0"}));
        for (std::size_t s = 0; s < kToneLevels.size(); ++s) {
            EXPECT_NEAR(ignored[s], kToneLevels[s], 0.5) << kToneLevels[s];
            EXPECT_NEAR(applied[s] - ignored[s], gains[s], 1.0) << kToneLevels[s];
        }
    }

    ASSERT_EQ(run_oskavi({input, output, "--quiet", "--rf-drc-profile", "film-standard"}).exit_code, 0);
    for (const FrameInfo& f : read_frames(output)) EXPECT_NE(f.bsi.find(" compr="), std::string::npos);
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
