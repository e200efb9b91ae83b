#include "bitstream/bit_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

namespace oskavi {
namespace {

std::string error_of(auto&& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(BitWriter, PacksMostSignificantBitFirst) {
    BitWriter w;
    w.write_bits(0x0B77, 16);
    ASSERT_EQ(w.bytes.size(), 2u);
    EXPECT_EQ(w.bytes[0], 0x0B);
    EXPECT_EQ(w.bytes[1], 0x77);
    EXPECT_EQ(w.bit_count, 16u);

    BitWriter ones;
    for (int i = 0; i < 3; ++i) ones.write_bits(1, 1);
    ones.write_bits(0x1F, 5);
    ASSERT_EQ(ones.bytes.size(), 1u);
    EXPECT_EQ(ones.bytes[0], 0xFF);
}

TEST(BitWriter, ChecksFieldWidthAndValue) {
    BitWriter w;
    EXPECT_EQ(error_of([&] { w.write_bits(4, 2); }), "BitWriter value does not fit field");
    EXPECT_EQ(error_of([&] { w.write_bits(1, 33); }), "BitWriter width > 32");
    EXPECT_EQ(error_of([&] { w.write_bits(0xFFFFFFFFu, 32); }), "");
    EXPECT_EQ(error_of([&] { w.write_bits(12345, 0); }), "");
    BitWriter counter(0, true);
    EXPECT_EQ(error_of([&] { counter.write_bits(4, 2); }), "BitWriter value does not fit field");
    EXPECT_THROW(BitWriter(0x80000000u), std::length_error);
}

TEST(BitWriter, ZerosSpanManyBytes) {
    BitWriter w;
    w.write_zeros(70);
    EXPECT_EQ(w.bit_count, 70u);
    ASSERT_EQ(w.bytes.size(), 9u);
    for (uint8_t b : w.bytes) EXPECT_EQ(b, 0);
}

// Random field sequences: counting mode reaches the same bit count and every
// field reads back from the packed bytes.
TEST(BitWriter, CountingModeMatchesWritingAndFieldsReadBack) {
    std::mt19937 rng(7);
    BitWriter writer(64);
    BitWriter counter(64, true);
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t width = rng() % 33;
        const uint32_t value = width == 32 ? rng() : (width == 0 ? 0 : rng() & ((1u << width) - 1));
        writer.write_bits(value, width);
        counter.write_bits(value, width);
        fields.emplace_back(value, width);
    }
    EXPECT_EQ(counter.bit_count, writer.bit_count);
    EXPECT_TRUE(counter.bytes.empty());
    EXPECT_EQ(writer.bytes.size(), (writer.bit_count + 7) / 8);
    uint64_t position = 0;
    for (auto [value, width] : fields) {
        uint32_t read = 0;
        for (uint32_t i = 0; i < width; ++i, ++position)
            read = (read << 1) | ((writer.bytes[position / 8] >> (7 - position % 8)) & 1u);
        ASSERT_EQ(read, value);
    }
}

}  // namespace
}  // namespace oskavi
