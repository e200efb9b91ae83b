#include "ac3/mantissa_quantiser.h"

#include <gtest/gtest.h>

#include <vector>

#include "ac3/bit_allocation.h"

namespace oskavi {
namespace {

constexpr uint32_t kLevels[6] = {0, 3, 5, 7, 11, 15};

// Normalised value that a symmetric quantiser of L levels reconstructs for k.
double level(uint32_t levels, uint32_t k) { return (2.0 * k - (levels - 1.0)) / levels; }

uint32_t bits_at(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t p = pos; p < pos + width; ++p) v = (v << 1) | ((bytes.at(p / 8) >> (7 - p % 8)) & 1u);
    return v;
}

// One channel record over its own vectors: level codes for bap 1..5.
struct Channel {
    std::vector<double> coefficients;
    std::vector<uint8_t> exponents;
    std::vector<uint8_t> baps;

    Channel& add(uint8_t bap, uint32_t code) {
        baps.push_back(bap);
        exponents.push_back(0);
        coefficients.push_back(bap >= 1 && bap <= 5 ? level(kLevels[bap], code) : 0.0);
        return *this;
    }
    ChannelMantissas record() const { return {coefficients, exponents, baps}; }
};

BitWriter write(const Channel& channel) {
    const ChannelMantissas records[] = {channel.record()};
    BitWriter writer;
    write_mantissas(writer, records);
    return writer;
}

TEST(WriteMantissas, GroupsAreWrittenAtTheirFirstMemberAndCompletedWithZeroCodes) {
    Channel ch;
    ch.add(1, 0).add(1, 2).add(3, 6).add(1, 1).add(0, 0).add(1, 2);  // fourth bap 1 opens a second group
    const BitWriter w = write(ch);
    ASSERT_EQ(w.bit_count, 5u + 3u + 5u);
    EXPECT_EQ(bits_at(w.bytes, 0, 5), 7u);   // 9 * 0 + 3 * 2 + 1
    EXPECT_EQ(bits_at(w.bytes, 5, 3), 6u);   // ungrouped bap 3
    EXPECT_EQ(bits_at(w.bytes, 8, 5), 22u);  // 9 * 2 + 3 * 1 + 1: completed by two zero codes
    BapVector baps;
    for (uint8_t b : ch.baps) baps.values[baps.size++] = b;
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&baps}), w.bit_count);

    const BitWriter four = write(Channel().add(4, 3));
    ASSERT_EQ(four.bit_count, 7u);
    EXPECT_EQ(bits_at(four.bytes, 0, 7), 38u);  // 11 * 3 + 5
    const BitWriter two = write(Channel().add(2, 4));
    ASSERT_EQ(two.bit_count, 7u);
    EXPECT_EQ(bits_at(two.bytes, 0, 7), 112u);  // 25 * 4 + 5 * 2 + 2
}

}  // namespace
}  // namespace oskavi
