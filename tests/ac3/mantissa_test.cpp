#include "ac3/mantissa_quantiser.h"

#include <gtest/gtest.h>

#include <vector>

#include "ac3/bit_allocation.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

using test::error_of;

constexpr uint32_t kLevels[6] = {0, 3, 5, 7, 11, 15};

// Normalised value that a symmetric quantiser of L levels reconstructs for k.
double level(uint32_t levels, uint32_t k) { return (2.0 * k - (levels - 1.0)) / levels; }

uint32_t bits_at(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t p = pos; p < pos + width; ++p) v = (v << 1) | ((bytes.at(p / 8) >> (7 - p % 8)) & 1u);
    return v;
}

// The quantisers at and beyond their edges; values in between are compared
// with the plain definition in definition_equivalence_test.cpp.
TEST(QuantiseMantissa, ClampsAtBothEdgesAndFloorsTheAsymmetricCodes) {
    for (uint8_t bap = 1; bap <= 5; ++bap) {
        const uint32_t top = kLevels[bap] - 1;
        EXPECT_EQ(quantise_mantissa(0.0, 0, bap), top / 2) << int(bap);
        EXPECT_EQ(quantise_mantissa(1.0, 0, bap), top) << int(bap);
        EXPECT_EQ(quantise_mantissa(7.5, 0, bap), top) << int(bap);
        EXPECT_EQ(quantise_mantissa(-3.0, 0, bap), 0u) << int(bap);
    }
    EXPECT_EQ(quantise_mantissa(0.99, 0, 6), 15u);   // floor(15.84)
    EXPECT_EQ(quantise_mantissa(-0.01, 0, 6), 31u);  // floor(-0.16) = -1 in 5 bits
    const uint32_t widths[16] = {0, 0, 0, 0, 0, 0, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};
    for (uint8_t bap = 6; bap <= 15; ++bap) {
        const uint32_t half = 1u << (widths[bap] - 1);
        EXPECT_EQ(quantise_mantissa(2.0, 3, bap), half - 1) << int(bap);  // largest positive code
        EXPECT_EQ(quantise_mantissa(-5.0, 0, bap), half) << int(bap);     // most negative code
    }
    EXPECT_EQ(quantise_mantissa(0.9, 0, 0), 0u);
    EXPECT_EQ(error_of([] { quantise_mantissa(0.5, 0, 16); }), "invalid bap");
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

TEST(WriteMantissas, RejectsMismatchedRecordsAndBadBaps) {
    Channel ok;
    ok.add(3, 0);
    Channel bad = ok;
    bad.exponents.push_back(0);
    const ChannelMantissas records[] = {ok.record(), bad.record()};
    BitWriter writer;
    EXPECT_EQ(error_of([&] { write_mantissas(writer, records); }), "mantissa channel vector size mismatch");
    EXPECT_EQ(writer.bit_count, 0u);
    EXPECT_EQ(error_of([] { write(Channel().add(17, 0)); }), "invalid bap");
}

}  // namespace
}  // namespace oskavi
