// Command-line behaviour of the built oskavi binary: usage and feature
// output, exit statuses, every refusal's message, banner and quiet mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

using Args = std::vector<std::string>;

const std::string kUsage =
    "Usage: oskavi input.wav|input.flac output.ac3 [--bitrate 448] [--dialnorm -31]\n"
    "       [--surround-mix-gain -3.0103] [--no-peak-guard] [--preflight] [--spectral-analysis]\n"
    "       [--generate-lfe | --bass-management [--crossover 80] | --thx]\n"
    "       [--lfe-gain 0] [--force-generate-lfe] [--matrix-decode] [--rear-delay 20] [--no-coupling] "
    "[--no-coupling-coordinate-reuse] [--no-block-switching] [--legacy-transient-detector] "
    "[--no-exponent-adaptation] [--no-streaming] [--quiet]\n"
    "       oskavi --verify file.ac3\n";

const std::string kBanner =
    "OSKAVI 1.0.1.0 - Lunetta AC-3 Audio Encoder\n"
    "PCM (WAV/RF64/FLAC) to 48 kHz constant-bit-rate AC-3 (ATSC A/52); check output with --verify.\n\n";

const std::string kRate =
    "Unsupported AC-3 bitrate at 48 kHz (legal values: "
    "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)";
const std::string kRearRange = "--rear-delay must be within 0..40 ms";

TEST(CommandLineBinary, WrongArgumentCountsPrintUsageWithStatusOne) {
    for (const Args& args : {Args{}, Args{"input.wav"}, Args{"--verify"}, Args{"--verify", "a.ac3", "b.ac3"},
                             Args{"--Features"}}) {
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 1) << ::testing::PrintToString(args);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLineBinary, FeaturesIgnoresFurtherArgumentsAndPrintsNoBanner) {
    for (const Args& args : {Args{"--features"}, Args{"--features", "x.wav", "--bogus"}}) {
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> lines = lines_of(r.out);
        ASSERT_EQ(lines.size(), 29u);
        EXPECT_EQ(lines[0], "WAV input: enabled (RIFF + RF64)");
        EXPECT_EQ(lines[1], "FLAC input: enabled (runtime libFLAC)");  // libFLAC is installed here
    }
}

// The one table of refusals: option errors (no banner, input never opened)
// and the refusals of real inputs, none of which leaves an output file.
TEST(CommandLineBinary, EveryRefusalPrintsItsExactMessage) {
    struct Case {
        uint32_t channels, rate;  // of the input WAV; 0 channels: the input does not exist
        Args options;
        std::string message;
    };
    const std::string generate_refused =
        "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1";
    const std::vector<Case> cases = {
        // A value option as the last argument is not recognised at all.
        {0, 0, {"--bitrate"}, "Unknown option: --bitrate"},
        {0, 0, {"--bogus", "--bitrate", "441"}, "Unknown option: --bogus"},
        {0, 0, {"--bitrate", "--dialnorm", "-20"}, "invalid stoul argument"},  // the value is taken as it comes
        {0, 0, {"--bitrate", "4294967744"}, "stoul argument out of range"},
        {0, 0, {"--bitrate", "0x1C0"}, kRate},  // base 10: read as 0
        {0, 0, {"--crossover", "1e999"}, "stod argument out of range"},
        {0, 0, {"--thx", "--generate-lfe"}, "choose only one of --generate-lfe or --bass-management"},
        {0, 0, {"--generate-lfe", "--thx"}, "choose only one of --generate-lfe or --thx"},
        {0, 0, {"--rear-delay", "10"}, "--rear-delay is only valid with --matrix-decode"},
        {0, 0, {"--matrix-decode", "--rear-delay", "nan"}, kRearRange},
        // After the option loop: the rate first, then the delay range, then its pairing.
        {0, 0, {"--rear-delay", "41"}, kRearRange},
        {0, 0, {"--rear-delay", "50", "--bitrate", "441"}, kRate},
        {2, 44100, {"--thx", "--bitrate", "192"}, "bass processing currently requires canonical 5.1 output layout"},
        {1, 48000, {"--matrix-decode"}, "--matrix-decode requires 2-channel stereo input"},
        {2, 48000, {"--matrix-decode", "--generate-lfe"}, generate_refused},
        {2, 48000, {"--matrix-decode", "--generate-lfe", "--no-streaming"}, generate_refused},
        {6, 48000, {"--generate-lfe"}, "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied"},
        {3, 48000, {}, "Ambiguous multichannel layout; refusing to guess channel positions"},
        {2, 32000, {}, "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz"},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::string input = dir.file(std::to_string(c.channels) + "ch" + std::to_string(c.rate) + ".wav");
        if (c.channels > 0) tools::write_wav(input, tools::make_test_signal({c.rate, c.channels, 0.2, 0.6, true, 1}), c.rate, c.channels, 16);
        Args args = {input, dir.file("out.ac3")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.err, "Error: " + c.message + "\n") << ::testing::PrintToString(args);
        if (c.channels == 0) {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3"))) << c.message;
    }
    const ProcessResult r = run_oskavi({"--quiet", dir.file("in.wav"), dir.file("out.ac3")});  // options first: paths
    EXPECT_EQ(r.err, "Error: Unknown option: " + dir.file("out.ac3") + "\n");
}

// A command line that parses prints the banner (unless --quiet) and fails
// only later, on the input that does not exist.
TEST(CommandLineBinary, AcceptedValuesFailOnlyOnTheInput) {
    const std::vector<Args> cases = {
        {},
        {"--bitrate", " \t+448kbps", "--dialnorm", "-31dB"},
        {"--bitrate", "-4294966848"},  // wraps modulo 2^32 to 448
        {"--rear-delay", "40", "--matrix-decode"},
        {"--thx", "--thx", "--crossover", "inf", "--lfe-gain", "nan"},
        {"--surround-mix-gain", "0x1p-2", "--no-peak-guard", "--force-generate-lfe"},
        {"--no-coupling", "--no-coupling-coordinate-reuse", "--no-block-switching", "--legacy-transient-detector",
         "--no-exponent-adaptation", "--preflight", "--spectral-analysis"},
    };
    TempDirectory dir;
    const std::string input = dir.file("missing.wav");
    for (const Args& options : cases) {
        Args args = {input, dir.file("out.ac3")};
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult r = run_oskavi(args);
        const bool quiet = std::find(args.begin(), args.end(), "--quiet") != args.end();
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.out, quiet ? "" : kBanner) << ::testing::PrintToString(args);
        EXPECT_EQ(r.err, "Error: Cannot open input: " + input + "\n") << ::testing::PrintToString(args);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3")));
    }
    const ProcessResult verify = run_oskavi({"--verify", input});
    EXPECT_EQ(verify.exit_code, 2);
    EXPECT_EQ(verify.out, "");
    EXPECT_EQ(verify.err, "Error: Cannot open AC-3 input: " + input + "\n");
}

}  // namespace
}  // namespace oskavi::test
