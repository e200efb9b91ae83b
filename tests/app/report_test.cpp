// Exact text of the report lines, including the stream formatting state the
// functions leave behind.

#include <gtest/gtest.h>

#include <sstream>

#include "app/report.h"

namespace oskavi {
namespace {

TEST(Report, InputLineUsesLayoutLabelAndContainerTagOfTheName) {
    struct Case {
        ChannelLayout layout;
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {ChannelLayout::Mono, "a.wav", "Input:      44100 Hz, 1 ch (1.0, WAVE)\n"},
        {ChannelLayout::Stereo, "dir/Song.FLAC", "Input:      44100 Hz, 1 ch (2.0, FLAC)\n"},
        {ChannelLayout::Surround51, "x.Rf64", "Input:      44100 Hz, 1 ch (5.1, RF64)\n"},
        {ChannelLayout::Surround71, "no_extension", "Input:      44100 Hz, 1 ch (7.1, WAVE)\n"},
        {ChannelLayout::Unknown, "dir.flac/track", "Input:      44100 Hz, 1 ch (unknown, WAVE)\n"},
        {static_cast<ChannelLayout>(9), "a.flac.wav", "Input:      44100 Hz, 1 ch (unknown, WAVE)\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        print_input_line(out, 44100, 1, c.layout, c.path);
        EXPECT_EQ(out.str(), c.expected);
    }
}

TEST(Report, BassLineNamesModeCrossoverAndGain) {
    PreprocessOptions p;
    std::ostringstream none;
    print_bass_line(none, p);
    EXPECT_EQ(none.str(), "");

    p.bass_mode = BassMode::GenerateLfe;
    p.crossover_hz = 99.6;
    p.lfe_gain_db = -2.4;
    std::ostringstream generated;
    print_bass_line(generated, p);
    EXPECT_EQ(generated.str(), "Bass:       generated LFE, crossover 100 Hz, LFE gain -2 dB\n");

    p.bass_mode = BassMode::BassManagement;
    p.thx = true;
    p.crossover_hz = 120.0;
    std::ostringstream thx;
    print_bass_line(thx, p);
    thx << 2.5;  // back to default notation, precision left at 0
    EXPECT_EQ(thx.str(), "Bass:       LR4 bass management, crossover 80 Hz (THX fixed), LFE gain -2 dB\n2");
}

TEST(Report, Ac3LineAndStreamingSummary) {
    EncoderOptions e;
    e.bitrate_kbps = 192;
    e.dialnorm_db = -27;
    std::ostringstream ac3;
    print_ac3_line(ac3, e);
    EXPECT_EQ(ac3.str(), "AC-3:       192 kbps CBR, dialnorm -27 dB\n");

    std::ostringstream padded;
    print_streaming_summary(padded, 3, 4000, 1025, e);
    padded << 1.0 / 3.0;  // default notation again
    EXPECT_EQ(padded.str(),
              "Streaming:  3 AC-3 frame(s), peak PCM workspace ~2 KiB\n"
              "Realized:   192.00 kbps average\n"
              "Padding:    608 final sample(s)/channel\n0.33");

    std::ostringstream exact;
    print_streaming_summary(exact, 0, 10, 0, e);
    EXPECT_EQ(exact.str(),
              "Streaming:  0 AC-3 frame(s), peak PCM workspace ~0 KiB\n"
              "Realized:   192.00 kbps average\n"
              "Padding:    0 final sample(s)/channel\n");

    std::ostringstream large;
    print_streaming_summary(large, 4000000000ull, 0, 4294967295u, e);
    EXPECT_NE(large.str().find("~4194304 KiB"), std::string::npos) << large.str();
    EXPECT_NE(large.str().find("Padding:    6144000000000 final"), std::string::npos) << large.str();
}

}  // namespace
}  // namespace oskavi
