// Command-line behaviour of the built oskavi binary: usage and feature
// output, exit statuses, every option error, banner and quiet mode.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

const std::string kUsage =
    "Usage: oskavi input.wav|input.flac output.ac3 [--bitrate 448] [--dialnorm -31]\n"
    "       [--surround-mix-gain -3.0103] [--no-peak-guard] [--preflight] [--spectral-analysis]\n"
    "       [--generate-lfe | --bass-management [--crossover 80] | --thx]\n"
    "       [--lfe-gain 0] [--force-generate-lfe] [--matrix-decode] [--rear-delay 20] [--no-coupling] "
    "[--no-coupling-coordinate-reuse] [--no-block-switching] [--legacy-transient-detector] "
    "[--no-exponent-adaptation] [--no-streaming] [--quiet]\n"
    "       oskavi --verify file.ac3\n";

const std::string kRateMessage =
    "Unsupported AC-3 bitrate at 48 kHz (legal values: "
    "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(CommandLineBinary, WrongArgumentCountsPrintUsageWithStatusOne) {
    const std::vector<std::vector<std::string>> cases = {
        {}, {"input.wav"}, {"--verify"}, {"--verify", "a.ac3", "b.ac3"}, {"--bitrate"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.out, kUsage);
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLineBinary, FeaturesIgnoresFurtherArgumentsAndPrintsNoBanner) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"--features"}, {"--features", "x.wav", "--bogus"}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.err, "");
        const std::vector<std::string> lines = lines_of(r.out);
        ASSERT_EQ(lines.size(), 29u);
        EXPECT_EQ(r.out.back(), '\n');
        EXPECT_EQ(lines[0], "WAV input: enabled (RIFF + RF64)");
        EXPECT_TRUE(lines[1] == "FLAC input: enabled (runtime libFLAC)" ||
                    lines[1] == "FLAC input: unavailable (place libFLAC.dll beside oskavi.exe)" ||
                    lines[1] == "FLAC input: unavailable (runtime loader error)")
            << lines[1];
        EXPECT_EQ(lines[5], "7.1 -> 5.1 rear fold: enabled (-3.0103 dB default)");
        EXPECT_EQ(lines[28], "Streaming matrix decode: enabled (all supported WAV rates; bounded multi-pass path)");
    }
    // Only the whole word selects the mode.
    EXPECT_EQ(run_oskavi({"--Features"}).exit_code, 1);
}

struct OptionErrorCase {
    std::vector<std::string> options;  // after the two paths
    std::string message;
};

TEST(CommandLineBinary, OptionErrorsPrintExactMessageWithoutBanner) {
    const std::vector<OptionErrorCase> cases = {
        {{"--bitrate"}, "Unknown option: --bitrate"},
        {{"--dialnorm"}, "Unknown option: --dialnorm"},
        {{"--no-coupling", "--rear-delay"}, "Unknown option: --rear-delay"},
        {{"--Bitrate", "448"}, "Unknown option: --Bitrate"},
        {{"--bitrate=448"}, "Unknown option: --bitrate=448"},
        {{"-q"}, "Unknown option: -q"},
        {{"--bogus", "--bitrate", "441"}, "Unknown option: --bogus"},
        {{"--bitrate", "abc"}, "invalid stoul argument"},
        {{"--bitrate", "--dialnorm", "-20"}, "invalid stoul argument"},
        {{"--bitrate", ""}, "invalid stoul argument"},
        {{"--bitrate", "4294967296"}, "stoul argument out of range"},
        {{"--bitrate", "4294967744"}, "stoul argument out of range"},
        {{"--bitrate", "-4294967296"}, "stoul argument out of range"},
        {{"--bitrate", "99999999999999999999999"}, "stoul argument out of range"},
        {{"--bitrate", "441"}, kRateMessage},
        {{"--bitrate", "0"}, kRateMessage},
        {{"--bitrate", "-448"}, kRateMessage},
        {{"--bitrate", "448", "--bitrate", "450"}, kRateMessage},
        {{"--dialnorm", "x"}, "invalid stoi argument"},
        {{"--dialnorm", "2147483648"}, "stoi argument out of range"},
        {{"--dialnorm", "-2147483649"}, "stoi argument out of range"},
        {{"--surround-mix-gain", "abc"}, "invalid stod argument"},
        {{"--crossover", "1e999"}, "stod argument out of range"},
        {{"--lfe-gain", "."}, "invalid stod argument"},
        {{"--rear-delay", "x", "--matrix-decode"}, "invalid stod argument"},
        {{"--thx", "--generate-lfe"}, "choose only one of --generate-lfe or --bass-management"},
        {{"--generate-lfe", "--generate-lfe"}, "choose only one of --generate-lfe or --bass-management"},
        {{"--bass-management", "--generate-lfe"}, "choose only one of --generate-lfe or --bass-management"},
        {{"--bass-management", "--bass-management"}, "choose only one of --generate-lfe or --bass-management"},
        {{"--thx", "--bass-management"}, "choose only one of --generate-lfe or --bass-management"},
        {{"--generate-lfe", "--thx"}, "choose only one of --generate-lfe or --thx"},
        {{"--rear-delay", "10"}, "--rear-delay is only valid with --matrix-decode"},
        {{"--matrix-decode", "--rear-delay", "41"}, "--rear-delay must be within 0..40 ms"},
        {{"--matrix-decode", "--rear-delay", "-0.001"}, "--rear-delay must be within 0..40 ms"},
        {{"--matrix-decode", "--rear-delay", "nan"}, "--rear-delay must be within 0..40 ms"},
        {{"--matrix-decode", "--rear-delay", "inf"}, "--rear-delay must be within 0..40 ms"},
        // The checks after the option loop run in a fixed order.
        {{"--rear-delay", "41"}, "--rear-delay must be within 0..40 ms"},
        {{"--rear-delay", "50", "--bitrate", "441"}, kRateMessage},
    };
    for (const OptionErrorCase& c : cases) {
        std::vector<std::string> args = {"missing-input.wav", "out.ac3"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2);
        EXPECT_EQ(r.err, "Error: " + c.message + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(CommandLineBinary, OptionsBeforeThePathsAreTakenAsPaths) {
    TempDirectory dir;
    const std::string output = dir.file("out.ac3");
    const ProcessResult r = run_oskavi({"--quiet", dir.file("in.wav"), output});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.err, "Error: Unknown option: " + output + "\n");
    EXPECT_EQ(r.out, "");
}

// A command line that parses prints the banner and then fails only later,
// on the input that does not exist.
TEST(CommandLineBinary, AcceptedValuesPrintBannerAndFailOnlyOnTheInput) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--bitrate", "448kbps"},
        {"--bitrate", " \t+640"},
        {"--bitrate", "-4294966848"},  // wraps modulo 2^32 to 448
        {"--bitrate", "032"},
        {"--dialnorm", "-31dB"},
        {"--dialnorm", "99"},  // range left to the encoder
        {"--matrix-decode", "--rear-delay", "0"},
        {"--matrix-decode", "--rear-delay", "40"},
        {"--rear-delay", "12.5", "--matrix-decode"},
        {"--bass-management", "--thx"},
        {"--thx", "--thx", "--crossover", "inf", "--lfe-gain", "nan"},
        {"--surround-mix-gain", "0x1p-2", "--no-peak-guard", "--force-generate-lfe"},
        {"--no-coupling", "--no-coupling-coordinate-reuse", "--no-block-switching", "--legacy-transient-detector",
         "--no-exponent-adaptation", "--no-streaming", "--preflight", "--spectral-analysis"},
    };
    TempDirectory dir;
    for (const auto& options : cases) {
        std::vector<std::string> args = {dir.file("missing.wav"), dir.file("out.ac3")};
        args.insert(args.end(), options.begin(), options.end());
        SCOPED_TRACE(::testing::PrintToString(args));
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2);
        const std::vector<std::string> out = lines_of(r.out);
        ASSERT_EQ(out.size(), 3u) << r.out;
        EXPECT_EQ(out[0], "OSKAVI 1.0.1.0 - Lunetta AC-3 Audio Encoder");
        EXPECT_FALSE(out[1].empty());
        EXPECT_EQ(out[2], "");
        ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("Error: ", 0), 0u) << r.err;
        for (const char* parse_error : {"Unknown option", "stoul", "stoi", "stod", "Unsupported AC-3 bitrate",
                                        "--rear-delay", "choose only one"}) {
            EXPECT_EQ(r.err.find(parse_error), std::string::npos) << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3")));
    }
}

TEST(CommandLineBinary, QuietSilencesStandardOutputButNotErrors) {
    TempDirectory dir;
    const ProcessResult r = run_oskavi({dir.file("missing.wav"), dir.file("out.ac3"), "--quiet"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("Error: ", 0), 0u);
    EXPECT_NE(r.err.find("missing.wav"), std::string::npos) << r.err;
}

TEST(CommandLineBinary, VerifyOfMissingFileIsAnErrorWithoutBanner) {
    TempDirectory dir;
    const std::string path = dir.file("none.ac3");
    const ProcessResult r = run_oskavi({"--verify", path});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot open AC-3 input: " + path + "\n");
}

}  // namespace
}  // namespace oskavi::test
