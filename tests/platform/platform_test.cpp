#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/binary_file.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "platform/steady_clock.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {
namespace {

TEST(Platform, ExecutablePathAndDirectory) {
    const std::string path = executable_path();
    EXPECT_EQ(std::filesystem::path(path).filename(), "oskavi_tests");
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
    EXPECT_EQ(directory_of(path) + "oskavi_tests", path);
    EXPECT_EQ(directory_of("C:\\tools\\oskavi.exe"), "C:\\tools\\");
    EXPECT_EQ(directory_of("oskavi"), "");
}

TEST(Platform, SteadyClockNeverGoesBack) {
    uint64_t previous = steady_clock_ns();
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = steady_clock_ns();
        EXPECT_GE(now, previous);
        previous = now;
    }
}

TEST(Platform, DynamicLibraryBindsByNameAndReleases) {
    const std::string fixture = std::string(OSKAVI_TEST_BUILD_DIR) + "/fixtures/libflac_missing_finish.so";
    DynamicLibrary library = DynamicLibrary::load(fixture);
    ASSERT_TRUE(library.loaded());
    EXPECT_NE(library.symbol("FLAC__stream_decoder_new"), nullptr);
    EXPECT_EQ(library.symbol("FLAC__stream_decoder_finish"), nullptr);

    DynamicLibrary moved = std::move(library);
    EXPECT_FALSE(library.loaded());
    EXPECT_TRUE(moved.loaded());
    moved.release();
    EXPECT_FALSE(moved.loaded());
    EXPECT_EQ(moved.symbol("FLAC__stream_decoder_new"), nullptr);

    EXPECT_FALSE(DynamicLibrary::load("/nonexistent/libnothing.so").loaded());
    EXPECT_FALSE(DynamicLibrary::load("libnothing-oskavi.so").loaded());
}

TEST(Platform, BinaryFileReadsAndSeeksPastTheEnd) {
    TempDirectory dir;
    const std::string path = dir.file("bytes.bin");
    write_file(path, Bytes{1, 2, 3, 4, 5});
    BinaryInputFile file;
    EXPECT_FALSE(file.open(dir.file("absent.bin")));
    ASSERT_TRUE(file.open(path));
    EXPECT_EQ(file.size(), 5u);
    uint8_t buffer[8] = {};
    EXPECT_EQ(file.read(buffer, 3), 3u);
    EXPECT_EQ(file.position(), 3u);
    EXPECT_EQ(file.read(buffer, 8), 2u);
    EXPECT_FALSE(file.good());
    file.clear();
    EXPECT_TRUE(file.seek(uint64_t{1} << 33));  // beyond the end: allowed, the next read fails
    EXPECT_EQ(file.read(buffer, 1), 0u);
    file.clear();
    ASSERT_TRUE(file.seek(4));
    EXPECT_EQ(file.read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 5);
}

}  // namespace
}  // namespace oskavi::test
