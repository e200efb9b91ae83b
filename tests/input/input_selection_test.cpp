// The reader is chosen by the extension after the last dot of the whole path,
// and the streaming routes are offered only for inputs they can take.

#include "input/input_selection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/error_of.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

TEST(InputSelection, DispatchByExtensionNotContent) {
    TempDirectory dir;
    std::filesystem::create_directory(dir.file("dir.v2"));
    const Bytes wave = canonical_wave(fmt_body(1, 2, 48000, 16), pcm_bytes(std::vector<int32_t>{16384, -16384}, 2));
    const std::pair<const char*, bool> cases[] = {
        {"Song.WAV", true},       {"song.Wave", true},    {"take.rf64", true},   {"song.flac.bak", false},
        {"song.aiff", false},     {"noextension", false}, {"dir.v2/input", false},
    };
    for (const auto& [name, accepted] : cases) {
        const std::string path = dir.file(name);
        write_file_bytes(path, wave);
        if (accepted) {
            EXPECT_EQ(read_input(path).samples, (std::vector<float>{0.5f, -0.5f})) << name;
        } else {
            EXPECT_EQ(error_of([&] { read_input(path); }), "Unsupported input extension; use WAV/RF64 or FLAC") << name;
        }
    }
}

TEST(InputSelection, StreamingEligibility) {
    TempDirectory dir;
    const Bytes data(96, 0);  // whole frames for 1, 2, 4, 6 and 8 channels of 16 bits
    struct Case {
        std::string name;
        Bytes fmt;
        bool matrix;
        bool preprocess;
    };
    const std::vector<Case> cases = {
        {"stereo48.wav", fmt_body(1, 2, 48000, 16), true, true},
        {"stereo44.wave", fmt_body(1, 2, 44100, 16), true, true},
        {"stereo32k.wav", fmt_body(1, 2, 32000, 16), false, false},
        {"mono192.rf64", fmt_body(1, 1, 192000, 16), false, true},
        {"surround.wav", fmt_body(1, 6, 88200, 16), false, true},
        {"surround_bad_mask.wav", fmt_extensible_body(6, 48000, 16, 0x33F, 1), false, false},
        {"seven_one.wav", fmt_extensible_body(8, 176400, 16, 0x63F, 1), false, true},
        {"quad.wav", fmt_body(1, 4, 96000, 16), false, false},
        {"stereo48.flac", fmt_body(1, 2, 48000, 16), false, false},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        write_file_bytes(path, canonical_wave(c.fmt, data));
        EXPECT_EQ(can_stream_matrix(path).eligible, c.matrix) << c.name;
        EXPECT_EQ(can_stream_preprocess(path).eligible, c.preprocess) << c.name;
    }
    const StreamEligibility facts = can_stream_preprocess(dir.file("stereo32k.wav"));
    EXPECT_EQ(std::tuple(facts.sample_rate, facts.channels, facts.layout, facts.total_frames),
              std::tuple(32000u, 2u, ChannelLayout::Stereo, uint64_t{24}));

    // Inputs the streaming reader cannot open are simply not eligible.
    EXPECT_FALSE(can_stream_matrix(dir.file("absent.wav")).eligible);
    const std::string fmt_after_data =
        WaveBuilder().chunk("data", data).chunk("fmt ", fmt_body(1, 2, 48000, 16)).write(dir.file("late_fmt.wav"));
    EXPECT_FALSE(can_stream_preprocess(fmt_after_data).eligible);
    EXPECT_EQ(read_input(fmt_after_data).frame_count(), 24u);
}

}  // namespace
}  // namespace oskavi::test
