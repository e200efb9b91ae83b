#include "bitstream/bit_writer.h"

#include <gtest/gtest.h>

#include <random>


namespace oskavi {
namespace {

// Random field sequences with runs of zeros: every field reads back
// most-significant bit first from the packed bytes, and counting mode reaches
// the same bit count without storing anything.
TEST(BitWriter, FieldsReadBackAndCountingModeAgrees) {
    std::mt19937 rng(7);
    BitWriter writer(64);
    BitWriter counter(64, true);
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t width = rng() % 33;
        const uint32_t value = i % 50 == 0 ? 0 : width == 32 ? rng() : rng() & ((uint64_t{1} << width) - 1);
        if (value == 0 && width > 0) {
            writer.write_zeros(width + 40);
            counter.write_zeros(width + 40);
            fields.emplace_back(0, width + 40);
            continue;
        }
        writer.write_bits(value, width);
        counter.write_bits(value, width);
        fields.emplace_back(value, width);
    }
    EXPECT_EQ(counter.bit_count, writer.bit_count);
    EXPECT_TRUE(counter.bytes.empty());
    EXPECT_EQ(writer.bytes.size(), (writer.bit_count + 7) / 8);
    uint64_t position = 0;
    for (auto [value, width] : fields) {
        uint64_t read = 0;
        for (uint32_t i = 0; i < width; ++i, ++position)
            read = (read << 1) | ((writer.bytes[position / 8] >> (7 - position % 8)) & 1u);
        ASSERT_EQ(read, value) << width;
    }
}

}  // namespace
}  // namespace oskavi
