#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/binary_file.h"
#include "platform/dynamic_library.h"
#include "platform/executable_path.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

TEST(Platform, ExecutablePathAndDirectory) {
    const std::string path = executable_path();
    EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
    EXPECT_EQ(directory_of(path) + "oskavi_tests", path);
    EXPECT_EQ(directory_of("C:\\tools\\oskavi.exe"), "C:\\tools\\");
    EXPECT_EQ(directory_of("oskavi"), "");
}

TEST(Platform, DynamicLibraryBindsByNameAndReleases) {
    DynamicLibrary library = DynamicLibrary::load(std::string(OSKAVI_TEST_BUILD_DIR) + "/fixtures/libflac_missing_finish.so");
    ASSERT_TRUE(library.loaded());
    EXPECT_NE(library.symbol("FLAC__stream_decoder_new"), nullptr);
    EXPECT_EQ(library.symbol("FLAC__stream_decoder_finish"), nullptr);
    DynamicLibrary moved = std::move(library);
    EXPECT_FALSE(library.loaded());
    moved.release();
    EXPECT_FALSE(moved.loaded());
    EXPECT_EQ(moved.symbol("FLAC__stream_decoder_new"), nullptr);
    EXPECT_FALSE(DynamicLibrary::load("/nonexistent/libnothing.so").loaded());
}

TEST(Platform, BinaryFileReadsShortAndSeeksPastTheEnd) {
    TempDirectory dir;
    write_file_bytes(dir.file("bytes.bin"), std::vector<uint8_t>{1, 2, 3, 4, 5});
    BinaryInputFile file;
    EXPECT_FALSE(file.open(dir.file("absent.bin")));
    ASSERT_TRUE(file.open(dir.file("bytes.bin")));
    EXPECT_EQ(file.size(), 5u);
    uint8_t buffer[8] = {};
    EXPECT_EQ(file.read(buffer, 8), 5u);
    EXPECT_FALSE(file.good());
    file.clear();
    EXPECT_TRUE(file.seek(uint64_t{1} << 33));  // beyond the end: allowed, the next read fails
    EXPECT_EQ(file.read(buffer, 1), 0u);
    file.clear();
    ASSERT_TRUE(file.seek(4));
    EXPECT_EQ(file.read(buffer, 1), 1u);
    EXPECT_EQ(buffer[0], 5);
    EXPECT_EQ(file.position(), 5u);
}

}  // namespace
}  // namespace oskavi::test
