// Exact text of the report lines the binary-level tests do not reach: the
// container tag of any name, rounding, and the stream formatting state the
// functions leave behind.

#include <gtest/gtest.h>

#include <sstream>

#include "app/report.h"

namespace oskavi {
namespace {

TEST(Report, InputLineUsesLayoutLabelAndContainerTagOfTheName) {
    const std::tuple<ChannelLayout, const char*, const char*> cases[] = {
        {ChannelLayout::Stereo, "dir/Song.FLAC", "(2.0, FLAC)"},
        {ChannelLayout::Surround51, "x.Rf64", "(5.1, RF64)"},
        {ChannelLayout::Surround71, "no_extension", "(7.1, WAVE)"},
        {ChannelLayout::Unknown, "dir.flac/track", "(unknown, WAVE)"},
        {static_cast<ChannelLayout>(9), "a.flac.wav", "(unknown, WAVE)"},
    };
    for (const auto& [layout, path, tail] : cases) {
        std::ostringstream out;
        print_input_line(out, 44100, 1, layout, path);
        EXPECT_EQ(out.str(), std::string("Input:      44100 Hz, 1 ch ") + tail + "\n");
    }
}

TEST(Report, StreamingSummaryRoundsWorkspaceAndPadding) {
    EncoderSettings e;
    e.bitrate_kbps = 192;
    std::ostringstream padded;
    print_streaming_summary(padded, 3, 4000, 1025, e);
    padded << 1.0 / 3.0;  // default notation again
    EXPECT_EQ(padded.str(),
              "Streaming:  3 AC-3 frame(s), peak PCM workspace ~2 KiB\n"
              "Realized:   192.00 kbps average\n"
              "Padding:    608 final sample(s)/channel\n0.33");
}

}  // namespace
}  // namespace oskavi
