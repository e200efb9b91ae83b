// Command-line behaviour of the built oskavi binary: usage and feature
// output, exit statuses, every option error, banner and quiet mode.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

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
const std::string kBassConflict = "choose only one of --generate-lfe or --bass-management";
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

TEST(CommandLineBinary, OptionErrorsPrintExactMessageWithoutBanner) {
    const std::vector<std::pair<Args, std::string>> cases = {
        // A value option as the last argument is not recognised at all.
        {{"--bitrate"}, "Unknown option: --bitrate"},
        {{"--bitrate=448"}, "Unknown option: --bitrate=448"},
        {{"--bogus", "--bitrate", "441"}, "Unknown option: --bogus"},
        {{"--bitrate", "abc"}, "invalid stoul argument"},
        {{"--bitrate", "--dialnorm", "-20"}, "invalid stoul argument"},  // the value is taken as it comes
        {{"--bitrate", "4294967744"}, "stoul argument out of range"},
        {{"--bitrate", "-4294967296"}, "stoul argument out of range"},
        {{"--bitrate", "441"}, kRate},
        {{"--bitrate", "0x1C0"}, kRate},  // base 10: read as 0
        {{"--dialnorm", "x"}, "invalid stoi argument"},
        {{"--dialnorm", "2147483648"}, "stoi argument out of range"},
        {{"--surround-mix-gain", "abc"}, "invalid stod argument"},
        {{"--crossover", "1e999"}, "stod argument out of range"},
        {{"--generate-lfe", "--bass-management"}, kBassConflict},
        {{"--bass-management", "--generate-lfe"}, kBassConflict},
        {{"--thx", "--generate-lfe"}, kBassConflict},
        {{"--generate-lfe", "--thx"}, "choose only one of --generate-lfe or --thx"},
        {{"--rear-delay", "10"}, "--rear-delay is only valid with --matrix-decode"},
        {{"--matrix-decode", "--rear-delay", "40.001"}, kRearRange},
        {{"--matrix-decode", "--rear-delay", "nan"}, kRearRange},
        // After the option loop: the rate first, then the delay range, then its pairing.
        {{"--rear-delay", "41"}, kRearRange},
        {{"--rear-delay", "50", "--bitrate", "441"}, kRate},
    };
    for (const auto& [options, message] : cases) {
        Args args = {"missing-input.wav", "out.ac3"};
        args.insert(args.end(), options.begin(), options.end());
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(r.err, "Error: " + message + "\n") << ::testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLineBinary, OptionsBeforeThePathsAreTakenAsPaths) {
    TempDirectory dir;
    const ProcessResult r = run_oskavi({"--quiet", dir.file("in.wav"), dir.file("out.ac3")});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "Error: Unknown option: " + dir.file("out.ac3") + "\n");
    EXPECT_EQ(r.out, "");
}

// A command line that parses prints the banner (unless --quiet) and fails
// only later, on the input that does not exist.
TEST(CommandLineBinary, AcceptedValuesFailOnlyOnTheInput) {
    const std::vector<Args> cases = {
        {},
        {"--quiet"},
        {"--matrix-decode", "--quiet", "--no-streaming"},
        {"--bitrate", " \t+448kbps", "--dialnorm", "-31dB"},
        {"--bitrate", "-4294966848"},  // wraps modulo 2^32 to 448
        {"--dialnorm", "99"},  // range left to the encoder
        {"--matrix-decode", "--rear-delay", "0"},
        {"--rear-delay", "40", "--matrix-decode"},
        {"--bass-management", "--thx"},
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
