// The reader is chosen by the extension after the last dot of the whole path.

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

}  // namespace
}  // namespace oskavi::test
