// Complete encode runs of the built binary: the whole report of each route,
// the refusals that follow the header, and the files written (or not).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ac3_decode.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

using Lines = std::vector<std::string>;

// Report lines after the three banner lines, without the progress lines
// (which contain a carriage return).
Lines report_of(const ProcessResult& r) {
    Lines lines;
    for (const std::string& line : lines_of(r.out))
        if (line.find('\r') == std::string::npos) lines.push_back(line);
    if (lines.size() >= 3) lines.erase(lines.begin(), lines.begin() + 3);
    return lines;
}

std::string signal_file(const TempDirectory& dir, uint32_t channels, uint32_t rate, double seconds) {
    const std::string path = dir.file(std::to_string(channels) + "ch" + std::to_string(rate) + ".wav");
    tools::write_wav(path, tools::make_test_signal({rate, channels, seconds, 0.6, true, 1}), rate, channels, 16);
    return path;
}

const std::string kStereo = "Input:      48000 Hz, 2 ch (2.0, WAVE)";
const std::string kStereoMode = "Mode:       2.0 PCM -> 2.0 AC-3";
const std::string k448 = "AC-3:       448 kbps CBR, dialnorm -31 dB";

TEST(EncodeRoutes, EveryRouteReportsItsLinesAndItsRefusals) {
    struct Run {
        uint32_t channels, rate;
        std::vector<std::string> options;
        Lines report;       // the whole report; the workspace size after "~" is not compared
        std::string error;  // empty for a run that succeeds
    };
    const std::string generate_refused =
        "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1";
    const std::vector<Run> runs = {
        {2, 48000, {},
         {kStereo, kStereoMode, k448, "Processing: stateful streaming preprocess -> 48000 Hz", k448,
          "Streaming:  32 AC-3 frame(s), peak PCM workspace ~", "Realized:   448.00 kbps average",
          "Padding:    1152 final sample(s)/channel"},
         ""},
        {8, 48000, {"--bitrate", "640"},
         {"Input:      48000 Hz, 8 ch (7.1, WAVE)", "Mode:       7.1 rear fold -> 5.1 AC-3",
          "AC-3:       640 kbps CBR, dialnorm -31 dB", "Downmix:    streaming 7.1 -> 5.1, rear fold -3.0103 dB",
          "Processing: stateful streaming preprocess -> 48000 Hz", "AC-3:       640 kbps CBR, dialnorm -31 dB",
          "Streaming:  32 AC-3 frame(s), peak PCM workspace ~", "Realized:   640.00 kbps average",
          "Padding:    1152 final sample(s)/channel"},
         ""},
        {6, 44100, {"--no-streaming", "--dialnorm", "-20"},
         {"Input:      44100 Hz, 6 ch (5.1, WAVE)", "Mode:       5.1 PCM -> 5.1 AC-3",
          "AC-3:       448 kbps CBR, dialnorm -20 dB", "Processing: 48000 Hz, 6 ch (5.1)",
          "AC-3:       448 kbps CBR, dialnorm -20 dB"},
         ""},
        {2, 48000, {"--preflight"},
         {kStereo, kStereoMode, k448, "Processing: 48000 Hz, 2 ch (stereo)", k448,
          "Preflight complete; no AC-3 written."},
         ""},
        {2, 44100, {"--thx", "--lfe-gain", "-3", "--bitrate", "192"},
         {"Input:      44100 Hz, 2 ch (2.0, WAVE)", kStereoMode,
          "Bass:       LR4 bass management, crossover 80 Hz (THX fixed), LFE gain -3 dB",
          "AC-3:       192 kbps CBR, dialnorm -31 dB"},
         "bass processing currently requires canonical 5.1 output layout"},
        {1, 48000, {"--matrix-decode", "--generate-lfe"},
         {"Input:      48000 Hz, 1 ch (1.0, WAVE)", "Mode:       Matrix surround decode -> 5.1 AC-3",
          "Bass:       generated LFE, crossover 80 Hz, LFE gain 0 dB", k448},
         "--matrix-decode requires 2-channel stereo input"},
        {2, 48000, {"--matrix-decode", "--generate-lfe", "--no-streaming"},
         {kStereo, "Mode:       Matrix surround decode -> 5.1 AC-3",
          "Bass:       generated LFE, crossover 80 Hz, LFE gain 0 dB", k448},
         generate_refused},
        {3, 48000, {}, {"Input:      48000 Hz, 3 ch (unknown, WAVE)", "Mode:       unknown PCM -> unknown AC-3", k448},
         "Ambiguous multichannel layout; refusing to guess channel positions"},
        {2, 32000, {}, {"Input:      32000 Hz, 2 ch (2.0, WAVE)", kStereoMode, k448},
         "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz"},
    };
    TempDirectory dir;
    for (size_t i = 0; i < runs.size(); ++i) {
        const Run& run = runs[i];
        const std::string output = dir.file("out" + std::to_string(i) + ".ac3");
        std::vector<std::string> args = {signal_file(dir, run.channels, run.rate, 1.0), output};
        args.insert(args.end(), run.options.begin(), run.options.end());
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, run.error.empty() ? 0 : 2) << i;
        EXPECT_EQ(r.err, run.error.empty() ? "" : "Error: " + run.error + "\n") << i;
        if (i == 0) {
            EXPECT_NE(r.out.find("\rEncoding        ["), std::string::npos) << "progress meter";
        }
        Lines report = report_of(r);
        for (std::string& line : report)
            if (line.find('~') != std::string::npos) line.erase(line.find('~') + 1);
        EXPECT_EQ(report, run.report) << i;
        const bool written = run.error.empty() && run.options != std::vector<std::string>{"--preflight"};
        EXPECT_EQ(std::filesystem::exists(output), written) << i;
    }
    // The streamed files verify and decode cleanly.
    EXPECT_EQ(run_oskavi({"--verify", dir.file("out0.ac3")}).exit_code, 0);
    EXPECT_EQ(decode_ac3(dir.file("out1.ac3"), 6).errors, "");
}

TEST(EncodeRoutes, WholeFileRouteAndCrossCheckSwitchesWriteTheSameBytes) {
    TempDirectory dir;
    const std::string input = signal_file(dir, 6, 44100, 0.5);
    ASSERT_EQ(run_oskavi({input, dir.file("default.ac3"), "--bitrate", "192"}).exit_code, 0);
    const std::vector<std::pair<std::string, std::vector<EnvOverride>>> variants = {
        {"--no-streaming", {}}, {"--quiet", {{"OSKAVI_FULL_PACK_PROBES", "1"}}}, {"--quiet", {{"OSKAVI_DENSE_MDCT", "1"}}}};
    for (const auto& [option, env] : variants) {
        const ProcessResult r = run_oskavi({input, dir.file("x.ac3"), "--bitrate", "192", option}, env);
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_EQ(file_bytes(dir.file("x.ac3")), file_bytes(dir.file("default.ac3"))) << option;
    }
}

TEST(EncodeRoutes, SpectralReportOfAnEmptyInput) {
    TempDirectory dir;
    // A single 96 kHz frame decimates to no 48 kHz frame at all.
    const std::string input = dir.file("empty.wav");
    tools::write_wav(input, {0.5f}, 96000, 1, 16);
    const ProcessResult r = run_oskavi({input, dir.file("out.ac3"), "--spectral-analysis", "--preflight"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const Lines report = report_of(r);
    ASSERT_EQ(report.size(), 10u) << r.out;
    EXPECT_EQ(Lines(report.begin() + 5, report.end()),
              (Lines{"Spectral:   0 channel-block(s), long MDCT", "             peak coefficient 0.000000e+00",
                     "             raw exponent range 24..0, max gainrng 0",
                     "             D15 preprocessing: validated for analyzed blocks",
                     "Spectral preflight complete; no AC-3 written."}));
}

}  // namespace
}  // namespace oskavi::test
