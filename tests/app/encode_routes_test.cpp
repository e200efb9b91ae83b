// Complete encode runs of the built binary: the report of each route, the
// files they write (or do not write), and agreement between the routes and
// the cross-check switches.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ac3_decode.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

// Report lines after the banner, without the progress lines (which start
// with a carriage return).
std::vector<std::string> report_of(const ProcessResult& r) {
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (line.find('\r') == std::string::npos) lines.push_back(line);
    if (lines.size() >= 3) lines.erase(lines.begin(), lines.begin() + 3);
    return lines;
}

std::string signal_file(const TempDirectory& dir, const std::string& name, uint32_t channels, uint32_t rate,
                        double seconds = 1.0) {
    tools::SignalShape shape;
    shape.channels = channels;
    shape.sample_rate = rate;
    shape.seconds = seconds;
    const std::string path = dir.file(name);
    tools::write_wav(path, tools::make_test_signal(shape), rate, channels, 16);
    return path;
}

TEST(EncodeRoutes, PlainStereoRunStreamsAndReportsTheSummary) {
    TempDirectory dir;
    const std::string input = signal_file(dir, "in.wav", 2, 48000);
    const std::string output = dir.file("out.ac3");
    const ProcessResult r = run_oskavi({input, output});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> expected = {
        "Input:      48000 Hz, 2 ch (2.0, WAVE)",
        "Mode:       2.0 PCM -> 2.0 AC-3",
        "AC-3:       448 kbps CBR, dialnorm -31 dB",
        "Processing: stateful streaming preprocess -> 48000 Hz",
        "AC-3:       448 kbps CBR, dialnorm -31 dB",
        "Streaming:  32 AC-3 frame(s), peak PCM workspace ~" + std::string(),  // completed below
        "Realized:   448.00 kbps average",
        "Padding:    1152 final sample(s)/channel",
    };
    const std::vector<std::string> report = report_of(r);
    ASSERT_EQ(report.size(), expected.size()) << r.out;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (i == 5)
            EXPECT_EQ(report[i].rfind(expected[i], 0), 0u) << report[i];
        else
            EXPECT_EQ(report[i], expected[i]);
    }
    EXPECT_NE(r.out.find("\rPreprocessing   ["), std::string::npos);
    EXPECT_NE(r.out.find("\rEncoding        ["), std::string::npos);
    EXPECT_EQ(file_bytes(output).size(), 32u * 1792);
    EXPECT_EQ(run_oskavi({"--verify", output}).exit_code, 0);
}

TEST(EncodeRoutes, WholeFileRouteWritesTheSameBytesAsTheStreamingRoute) {
    TempDirectory dir;
    for (auto [channels, rate] : {std::pair{2u, 44100u}, std::pair{6u, 48000u}, std::pair{1u, 96000u}}) {
        const std::string input = signal_file(dir, "in.wav", channels, rate, 0.5);
        const ProcessResult streamed = run_oskavi({input, dir.file("s.ac3"), "--bitrate", "192"});
        const ProcessResult whole = run_oskavi({input, dir.file("w.ac3"), "--bitrate", "192", "--no-streaming"});
        ASSERT_EQ(streamed.exit_code, 0) << streamed.err;
        ASSERT_EQ(whole.exit_code, 0) << whole.err;
        EXPECT_EQ(file_bytes(dir.file("s.ac3")), file_bytes(dir.file("w.ac3"))) << channels << " ch at " << rate;
        const std::vector<std::string> report = report_of(whole);
        ASSERT_GE(report.size(), 5u);
        EXPECT_EQ(report[3], "Processing: 48000 Hz, " + std::to_string(channels) + " ch (" +
                                 (channels == 1 ? "mono" : channels == 2 ? "stereo" : "5.1") + ")");
        EXPECT_EQ(whole.out.find("Streaming:"), std::string::npos);
    }
}

TEST(EncodeRoutes, CrossCheckSwitchesDoNotChangeTheOutput) {
    TempDirectory dir;
    const std::string input = signal_file(dir, "in.wav", 2, 48000);
    ASSERT_EQ(run_oskavi({input, dir.file("default.ac3"), "--bitrate", "192", "--quiet"}).exit_code, 0);
    const auto reference = file_bytes(dir.file("default.ac3"));
    for (const char* variable : {"OSKAVI_FULL_PACK_PROBES", "OSKAVI_DENSE_MDCT"}) {
        for (const char* value : {"1", "yes", "0", ""}) {
            const ProcessResult r = run_oskavi({input, dir.file("x.ac3"), "--bitrate", "192", "--quiet"},
                                               {{variable, std::string(value)}});
            ASSERT_EQ(r.exit_code, 0) << r.err;
            EXPECT_EQ(file_bytes(dir.file("x.ac3")), reference) << variable << "=" << value;
        }
    }
}

TEST(EncodeRoutes, PreflightWritesNothing) {
    TempDirectory dir;
    const std::string input = signal_file(dir, "in.wav", 2, 48000, 0.2);
    const std::string output = dir.file("never.ac3");
    const ProcessResult r = run_oskavi({input, output, "--preflight"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> report = report_of(r);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back(), "Preflight complete; no AC-3 written.");
    EXPECT_FALSE(std::filesystem::exists(output));

    const ProcessResult spectral = run_oskavi({input, output, "--preflight", "--spectral-analysis"});
    ASSERT_EQ(spectral.exit_code, 0) << spectral.err;
    EXPECT_EQ(report_of(spectral).back(), "Spectral preflight complete; no AC-3 written.");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST(EncodeRoutes, SpectralReportOfAnEmptyInput) {
    TempDirectory dir;
    // A single 96 kHz frame decimates to no 48 kHz frame at all.
    const std::string input = dir.file("empty.wav");
    tools::write_wav(input, {0.5f}, 96000, 1, 16);
    const ProcessResult r = run_oskavi({input, dir.file("out.ac3"), "--spectral-analysis"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> report = report_of(r);
    const std::vector<std::string> expected = {
        "Spectral:   0 channel-block(s), long MDCT",
        "             peak coefficient 0.000000e+00",
        "             raw exponent range 24..0, max gainrng 0",
        "             D15 preprocessing: validated for analyzed blocks",
    };
    ASSERT_GE(report.size(), 9u) << r.out;
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(report[5 + i], expected[i]);
    EXPECT_EQ(file_bytes(dir.file("out.ac3")).size(), 1792u);  // still one (silent) frame
}

TEST(EncodeRoutes, SevenOneFoldIsReportedWithTheGain) {
    TempDirectory dir;
    const std::string input = signal_file(dir, "in.wav", 8, 48000, 0.2);
    const ProcessResult r = run_oskavi({input, dir.file("out.ac3")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> report = report_of(r);
    ASSERT_GE(report.size(), 4u);
    EXPECT_EQ(report[0], "Input:      48000 Hz, 8 ch (7.1, WAVE)");
    EXPECT_EQ(report[1], "Mode:       7.1 rear fold -> 5.1 AC-3");
    EXPECT_EQ(report[3], "Downmix:    streaming 7.1 -> 5.1, rear fold -3.0103 dB");
    const DecodedAc3 decoded = decode_ac3(dir.file("out.ac3"), 6);
    EXPECT_EQ(decoded.errors, "");
}

TEST(EncodeRoutes, QuietRunWritesTheFileAndNothingToStandardOutput) {
    TempDirectory dir;
    const std::string input = signal_file(dir, "in.wav", 1, 48000, 0.2);
    const ProcessResult r = run_oskavi({input, dir.file("out.ac3"), "--quiet", "--bitrate", "96"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(file_bytes(dir.file("out.ac3")).size(), 7u * 384);  // 9600 frames
    const ProcessResult missing = run_oskavi({dir.file("absent.wav"), dir.file("out.ac3"), "--quiet"});
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Error: Cannot open input: " + dir.file("absent.wav") + "\n");
    EXPECT_EQ(missing.exit_code, 2);
}

TEST(EncodeRoutes, UnmappableLayoutsAreRefused) {
    TempDirectory dir;
    const ProcessResult three = run_oskavi({signal_file(dir, "three.wav", 3, 48000, 0.1), dir.file("out.ac3")});
    EXPECT_EQ(three.exit_code, 2);
    EXPECT_EQ(three.err, "Error: Ambiguous multichannel layout; refusing to guess channel positions\n");
    const ProcessResult rate = run_oskavi({signal_file(dir, "slow.wav", 2, 32000, 0.1), dir.file("out.ac3")});
    EXPECT_EQ(rate.err, "Error: Supported input rates: 44.1/48/88.2/96/176.4/192 kHz\n");
}

}  // namespace
}  // namespace oskavi::test
