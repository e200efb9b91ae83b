// Header lines of the encode routes and the matrix-decode input checks, on
// real WAV files written by sox.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string make_wav(const TempDirectory& dir, const std::string& name, int rate, int channels) {
    const std::string path = dir.file(name);
    const ProcessResult r = run_process({"sox", "-n", "-r", std::to_string(rate), "-c", std::to_string(channels), "-b",
                                         "16", path, "synth", "0.05", "sine", "440"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return path;
}

// The lines after the three banner lines.
std::vector<std::string> report_lines(const ProcessResult& r) {
    std::vector<std::string> lines = lines_of(r.out);
    EXPECT_GE(lines.size(), 3u);
    if (lines.size() >= 3) {
        EXPECT_EQ(lines[0], "OSKAVI 1.0.1.0 - Lunetta AC-3 Audio Encoder");
        lines.erase(lines.begin(), lines.begin() + 3);
    }
    return lines;
}

TEST(DriverReport, HeaderLinesOfBothKindsOfRoute) {
    ASSERT_TRUE(program_available("sox"));
    TempDirectory dir;
    const std::string stereo = make_wav(dir, "stereo.wav", 44100, 2);
    const std::string output = dir.file("out.ac3");

    const ProcessResult streamed = run_oskavi({stereo, output, "--thx", "--lfe-gain", "-3", "--bitrate", "192"});
    const std::vector<std::string> s = report_lines(streamed);
    ASSERT_GE(s.size(), 4u) << streamed.out;
    EXPECT_EQ(s[0], "Input:      44100 Hz, 2 ch (2.0, WAVE)");
    EXPECT_EQ(s[1], "Mode:       2.0 PCM -> 2.0 AC-3");
    EXPECT_EQ(s[2], "Bass:       LR4 bass management, crossover 80 Hz (THX fixed), LFE gain -3 dB");
    EXPECT_EQ(s[3], "AC-3:       192 kbps CBR, dialnorm -31 dB");

    const ProcessResult whole = run_oskavi({stereo, output, "--no-streaming", "--dialnorm", "-20"});
    const std::vector<std::string> w = report_lines(whole);
    ASSERT_GE(w.size(), 3u) << whole.out;
    EXPECT_EQ(w[0], "Input:      44100 Hz, 2 ch (2.0, WAVE)");
    EXPECT_EQ(w[1], "Mode:       2.0 PCM -> 2.0 AC-3");
    EXPECT_EQ(w[2], "AC-3:       448 kbps CBR, dialnorm -20 dB");

    const ProcessResult quiet = run_oskavi({stereo, output, "--quiet", "--matrix-decode"});
    EXPECT_EQ(quiet.out, "");
}

TEST(DriverReport, MatrixDecodeRefusesUnsuitableInputAfterTheHeader) {
    ASSERT_TRUE(program_available("sox"));
    TempDirectory dir;
    const std::string mono = make_wav(dir, "mono.wav", 48000, 1);
    const std::string stereo = make_wav(dir, "stereo.wav", 48000, 2);
    const std::string output = dir.file("out.ac3");

    const ProcessResult r = run_oskavi({mono, output, "--matrix-decode", "--generate-lfe"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "Error: --matrix-decode requires 2-channel stereo input\n");
    const std::vector<std::string> lines = report_lines(r);
    ASSERT_EQ(lines.size(), 4u) << r.out;
    EXPECT_EQ(lines[0], "Input:      48000 Hz, 1 ch (1.0, WAVE)");
    EXPECT_EQ(lines[1], "Mode:       Matrix surround decode -> 5.1 AC-3");
    EXPECT_EQ(lines[2], "Bass:       generated LFE, crossover 80 Hz, LFE gain 0 dB");
    EXPECT_EQ(lines[3], "AC-3:       448 kbps CBR, dialnorm -31 dB");

    const ProcessResult lfe = run_oskavi({stereo, output, "--matrix-decode", "--generate-lfe", "--no-streaming"});
    EXPECT_EQ(lfe.exit_code, 2);
    EXPECT_EQ(lfe.err,
              "Error: --matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1\n");
    EXPECT_EQ(report_lines(lfe).size(), 4u) << lfe.out;
    EXPECT_FALSE(std::filesystem::exists(output));
}

}  // namespace
}  // namespace oskavi::test
