#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "input/input_selection.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

std::string read_error(const std::string& path) {
    try {
        read_input(path);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(InputSelection, ExtensionIsTakenFromTheLastDotOfTheWholePath) {
    EXPECT_EQ(input_extension("Song.WAV"), ".wav");
    EXPECT_EQ(input_extension("/music/song.Wave"), ".wave");
    EXPECT_EQ(input_extension("song.flac.bak"), ".bak");
    EXPECT_EQ(input_extension("dir.v2/input"), ".v2/input");
    EXPECT_EQ(input_extension("input"), "");
    EXPECT_EQ(input_extension("TAKE.RF64"), ".rf64");
}

TEST(InputSelection, DispatchByExtensionNotContent) {
    TempDirectory dir;
    const Bytes wave = canonical_wave(fmt_body(1, 2, 48000, 16), pcm16_bytes(std::vector<int16_t>{16384, -16384}));
    for (const std::string name : {"Song.WAV", "song.Wave", "take.rf64"}) {
        const std::string path = dir.file(name);
        write_file(path, wave);
        const PcmBuffer pcm = read_input(path);
        EXPECT_EQ(pcm.samples, (std::vector<float>{0.5f, -0.5f})) << name;
    }
    for (const std::string name : {"song.flac.bak", "song.aiff", "noextension"}) {
        const std::string path = dir.file(name);
        write_file(path, wave);
        EXPECT_EQ(read_error(path), "Unsupported input extension; use WAV/RF64 or FLAC") << name;
    }
    const std::string dotted_dir = dir.file("dir.v2");
    std::filesystem::create_directory(dotted_dir);
    write_file(dotted_dir + "/input", wave);
    EXPECT_EQ(read_error(dotted_dir + "/input"), "Unsupported input extension; use WAV/RF64 or FLAC");
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
        write_file(path, canonical_wave(c.fmt, data));
        const StreamEligibility matrix = can_stream_matrix(path);
        const StreamEligibility preprocess = can_stream_preprocess(path);
        EXPECT_EQ(matrix.eligible, c.matrix) << c.name;
        EXPECT_EQ(preprocess.eligible, c.preprocess) << c.name;
    }

    const StreamEligibility facts = can_stream_preprocess(dir.file("stereo32k.wav"));
    EXPECT_EQ(facts.sample_rate, 32000u);
    EXPECT_EQ(facts.channels, 2u);
    EXPECT_EQ(facts.layout, ChannelLayout::Stereo);
    EXPECT_EQ(facts.total_frames, 24u);

    // Inputs the streaming reader cannot open are simply not eligible.
    const std::string broken = dir.file("broken.wav");
    write_file(broken, Bytes{'R', 'I', 'F', 'F', 0, 0});
    EXPECT_FALSE(can_stream_preprocess(broken).eligible);
    EXPECT_FALSE(can_stream_matrix(dir.file("absent.wav")).eligible);
    const std::string fmt_after_data = dir.file("fmt_after_data.wav");
    WaveBuilder().chunk("data", data).chunk("fmt ", fmt_body(1, 2, 48000, 16)).write(fmt_after_data);
    EXPECT_FALSE(can_stream_preprocess(fmt_after_data).eligible);
    EXPECT_EQ(read_input(fmt_after_data).frame_count(), 24u);
}

}  // namespace
}  // namespace oskavi::test
