// The Windows side of platform/: module path, DLL loading with the safe
// search, UTF-8 file names through the wide API, 64-bit file offsets, the
// performance counter and the working-set figure.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "input/flac_library.h"
#include "platform/binary_file.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "platform/file_path.h"
#include "platform/process_memory.h"
#include "platform/steady_clock.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

std::string fixtures_directory() { return directory_of(executable_path()) + "fixtures\\"; }

TEST(PlatformWindows, ExecutablePathIsTheModuleFile) {
    const std::string path = executable_path();
    ASSERT_GT(path.size(), 3u);
    EXPECT_EQ(path.substr(1, 2), ":\\");  // fully qualified: drive letter, colon, backslash
    EXPECT_EQ(directory_of(path) + "oskavi_tests.exe", path);
    EXPECT_TRUE(std::filesystem::exists(file_path(path)));
}

TEST(PlatformWindows, LibrariesByPathAndBySystemSearchWithTheirMessages) {
    DynamicLibrary fixture = DynamicLibrary::load(fixtures_directory() + "libflac_missing_finish.dll");
    ASSERT_TRUE(fixture.loaded());
    EXPECT_NE(fixture.symbol("FLAC__stream_decoder_new"), nullptr);
    EXPECT_EQ(fixture.symbol("FLAC__stream_decoder_finish"), nullptr);
    fixture.release();
    EXPECT_FALSE(fixture.loaded());

    const DynamicLibrary system = DynamicLibrary::load("kernel32.dll");
    ASSERT_TRUE(system.loaded());
    EXPECT_NE(system.symbol("GetProcAddress"), nullptr);
    EXPECT_FALSE(DynamicLibrary::load("oskavi-no-such-library.dll").loaded());
    EXPECT_FALSE(DynamicLibrary::load(fixtures_directory() + "oskavi-no-such-library.dll").loaded());

    const FlacLibrary partial(FlacLibrarySearch{{fixtures_directory()}, {"libflac_missing_finish.dll"}, false});
    EXPECT_EQ(partial.error_message(), "libFLAC missing required export: FLAC__stream_decoder_finish");
    const FlacLibrary absent(FlacLibrarySearch{{fixtures_directory()}, {"oskavi-no-such-library.dll"}, true});
    EXPECT_EQ(absent.error_message(),
              "libFLAC runtime DLL was not found beside oskavi.exe or in the Windows DLL search path");
    EXPECT_FALSE(partial.available() || absent.available());
}

// UTF-8 file names through the wide API, and offsets past 2^32 (64-bit
// seeks) in a file written past its end, so the file system keeps the hole sparse.
TEST(PlatformWindows, BinaryFileNamesAndOffsets) {
    const TempDirectory dir;
    const std::string name = "Gr\xC3\xBC\xC3\x9F" "e-\xE9\x9F\xB3.bin";  // "Grüße-音.bin"
    const std::string utf8_path = dir.path().string() + "\\" + name;
    const uint64_t offset = (uint64_t{5} << 30) + 7;
    {
        std::ofstream out(file_path(utf8_path), std::ios::binary);
        out.seekp(static_cast<std::streamoff>(offset));
        out.put('Z');
        ASSERT_TRUE(out.good());
    }
    // The name on disk is the UTF-16 form of the UTF-8 name.
    EXPECT_TRUE(std::filesystem::exists(dir.path() / L"Gr\u00FC\u00DFe-\u97F3.bin"));
    BinaryInputFile file;
    ASSERT_TRUE(file.open(utf8_path));
    EXPECT_EQ(file.size(), offset + 1);
    ASSERT_TRUE(file.seek(offset));
    EXPECT_EQ(file.position(), offset);
    char byte = 0;
    EXPECT_EQ(file.read(&byte, 1), 1u);
    EXPECT_EQ(byte, 'Z');
}

TEST(PlatformWindows, SteadyClockAndPeakWorkingSet) {
    const uint64_t before = steady_clock_ns();
    Sleep(50);
    const uint64_t elapsed = steady_clock_ns() - before;
    // Generous bounds: only the unit (nanoseconds, not counter ticks) is checked.
    EXPECT_GE(elapsed, 40'000'000u);
    EXPECT_LT(elapsed, 10'000'000'000u);
    std::vector<char> block(64u << 20, 1);  // filled, so every page is resident
    EXPECT_GE(peak_resident_bytes(), block.size());
}

}  // namespace
}  // namespace oskavi::test
