#include <gtest/gtest.h>

#include <vector>

#include "platform/binary_file.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

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
