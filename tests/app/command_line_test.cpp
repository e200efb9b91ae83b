// Command-line behaviour of the built oskavi binary: usage and feature
// output, exit statuses, every refusal's message (the stream options' too),
// banner and quiet mode.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

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

const std::string kBanner =
    "OSKAVI 1.0.1.0 - Lunetta AC-3 Audio Encoder\n"
    "PCM (WAV/RF64/FLAC) to 48 kHz constant-bit-rate AC-3 (ATSC A/52); check output with --verify.\n\n";

const std::string kRate =
    "Unsupported AC-3 bitrate at 48 kHz (legal values: "
    "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)";
const std::string kRearRange = "--rear-delay must be within 0..40 ms";
const std::string kProfiles = "none, film-light, film-standard, music-light, music-standard or speech";
const std::string kBandwidth = "--bandwidth must be auto, full or a frequency within 7000..20500 Hz";

TEST(CommandLineBinary, WrongArgumentCountsPrintUsageWithStatusOne) {
    for (const Args& args : {Args{}, Args{"input.wav"}, Args{"--verify"}, Args{"--verify", "a.ac3", "b.ac3"},
                             Args{"--Features"}}) {
        EXPECT_EQ(outcome(run_oskavi(args)), "exit 1\n" + kUsage + "--\n") << ::testing::PrintToString(args);
    }
}

TEST(CommandLineBinary, FeaturesIgnoresFurtherArgumentsAndPrintsNoBanner) {
    for (const Args& args : {Args{"--features"}, Args{"--features", "x.wav", "--bogus"}}) {
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(outcome(r), "exit 0\n" + r.out + "--\n");
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
        {0, 0, {"--bandwidth", "6999"}, kBandwidth},
        {0, 0, {"--bandwidth", "wide"}, kBandwidth},
        {0, 0, {"--center-mix-level", "-4"}, "--center-mix-level must be -3, -4.5 or -6"},
        {0, 0, {"--surround-mix-level", "-4.5"}, "--surround-mix-level must be -3, -6 or off"},
        {0, 0, {"--surround-encoded", "maybe"}, "--surround-encoded must be yes, no or unset"},
        {0, 0, {"--service", "music"},
         "--service must be main, music-effects, visually-impaired, hearing-impaired, dialogue, commentary, "
         "emergency, voice-over (mono) or karaoke (other layouts)"},
        {0, 0, {"--mixing-level", "112"}, "--mixing-level must be within 80..111 dB SPL"},
        {0, 0, {"--room-type", "huge"}, "--room-type must be large, small or unset"},
        {0, 0, {"--preferred-downmix", "prologic"}, "--preferred-downmix must be ltrt, loro or unset"},
        {0, 0, {"--ltrt-center-level", "-2"}, "--ltrt-center-level must be 3, 1.5, 0, -1.5, -3, -4.5, -6 or off"},
        {0, 0, {"--loro-surround-level", "0"}, "--loro-surround-level must be -1.5, -3, -4.5, -6 or off"},
        {0, 0, {"--surround-ex", "on"}, "--surround-ex must be yes, no or unset"},
        {0, 0, {"--headphone-encoded", "1"}, "--headphone-encoded must be yes, no or unset"},
        {0, 0, {"--ad-converter", "cd"}, "--ad-converter must be standard or hdcd"},
        {0, 0, {"--drc-profile", "film"}, "--drc-profile must be " + kProfiles},
        {0, 0, {"--rf-drc-profile", "loud"}, "--rf-drc-profile must be " + kProfiles},
        {0, 0, {"--drc-profile"}, "Unknown option: --drc-profile"},
        {2, 44100, {"--thx", "--bitrate", "192"}, "bass processing currently requires canonical 5.1 output layout"},
        {1, 48000, {"--matrix-decode"}, "--matrix-decode requires 2-channel stereo input"},
        {2, 48000, {"--matrix-decode", "--generate-lfe"}, generate_refused},
        {2, 48000, {"--matrix-decode", "--generate-lfe", "--no-streaming"}, generate_refused},
        {6, 48000, {"--generate-lfe"}, "source LFE is active; --generate-lfe is blocked unless --force-generate-lfe is supplied"},
    };
    TempDirectory dir;
    for (const Case& c : cases) {
        const std::string input = dir.file(std::to_string(c.channels) + "ch" + std::to_string(c.rate) + ".wav");
        if (c.channels > 0) tools::write_wav(input, tools::make_test_signal({c.rate, c.channels, 0.2, 0.6, true, 1}), c.rate, c.channels, 16);
        const ProcessResult r = run_oskavi(joined({input, dir.file("out.ac3")}, c.options));
        EXPECT_EQ(outcome(r), refusal(c.message, c.channels == 0 ? "" : r.out)) << ::testing::PrintToString(c.options);
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
        EXPECT_EQ(outcome(run_oskavi(joined({input, dir.file("out.ac3")}, options))),
                  refusal("Cannot open input: " + input, kBanner)) << ::testing::PrintToString(options);
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3")));
    }
    EXPECT_EQ(outcome(run_oskavi({"--verify", input})), refusal("Cannot open AC-3 input: " + input));
}

}  // namespace
}  // namespace oskavi::test
