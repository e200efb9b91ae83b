#include "ac3/mantissa_quantiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/bit_allocation.h"

namespace oskavi {
namespace {

template <typename F>
void expect_error(F&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

constexpr uint32_t kLevels[6] = {0, 3, 5, 7, 11, 15};

// Normalised value that a symmetric quantiser of L levels reconstructs for k.
double level(uint32_t levels, uint32_t k) {
    return (2.0 * k - (levels - 1.0)) / levels;
}

// Reads `width` bits MSB first from bit position `pos`.
uint32_t bits_at(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < width; ++i) {
        const uint32_t p = pos + i;
        v = (v << 1) | ((bytes.at(p / 8) >> (7 - p % 8)) & 1u);
    }
    return v;
}

TEST(QuantiseMantissa, SymmetricQuantisersHitEveryLevelAndClamp) {
    for (uint8_t bap = 1; bap <= 5; ++bap) {
        const uint32_t L = kLevels[bap];
        for (uint32_t k = 0; k < L; ++k) {
            EXPECT_EQ(quantise_mantissa(level(L, k), 0, bap), k) << int(bap) << " " << k;
        }
        EXPECT_EQ(quantise_mantissa(0.0, 0, bap), (L - 1) / 2);
        EXPECT_EQ(quantise_mantissa(1.0, 0, bap), L - 1);
        EXPECT_EQ(quantise_mantissa(7.5, 0, bap), L - 1);
        EXPECT_EQ(quantise_mantissa(-1.0, 0, bap), 0u);
        EXPECT_EQ(quantise_mantissa(-3.0, 0, bap), 0u);
    }
    // Halves round away from zero: with 3 levels x = -1/3 lies exactly between
    // codes 0 and 1 ((-1/3 + 2/3) / (2/3) = 0.5 in doubles too).
    EXPECT_EQ(quantise_mantissa(-1.0 / 3.0, 0, 1), 1u);
    EXPECT_EQ(quantise_mantissa(-0.34, 0, 1), 0u);
}

TEST(QuantiseMantissa, AsymmetricQuantisersFloorAndUseTwosComplement) {
    EXPECT_EQ(quantise_mantissa(0.99, 0, 6), 15u);    // floor(15.84)
    EXPECT_EQ(quantise_mantissa(-0.01, 0, 6), 31u);   // floor(-0.16) = -1 in 5 bits
    EXPECT_EQ(quantise_mantissa(0.0, 0, 6), 0u);
    const uint32_t widths[16] = {0, 0, 0, 0, 0, 0, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};
    for (uint8_t bap = 6; bap <= 15; ++bap) {
        const uint32_t w = widths[bap];
        EXPECT_EQ(quantise_mantissa(1.0, 0, bap), (1u << (w - 1)) - 1) << int(bap);
        EXPECT_EQ(quantise_mantissa(2.0, 3, bap), (1u << (w - 1)) - 1) << int(bap);
        EXPECT_EQ(quantise_mantissa(-1.0, 0, bap), 1u << (w - 1)) << int(bap);
        EXPECT_EQ(quantise_mantissa(-5.0, 0, bap), 1u << (w - 1)) << int(bap);
    }
}

TEST(QuantiseMantissa, NormalisesByExponentAndRejectsBadBap) {
    // 0.25 * 2^2 = 1.0: the largest code; 0.0625 * 2^3 = 0.5 with bap 6: 8.
    EXPECT_EQ(quantise_mantissa(0.25, 2, 6), 15u);
    EXPECT_EQ(quantise_mantissa(0.0625, 3, 6), 8u);
    EXPECT_EQ(quantise_mantissa(0.0625, 2, 6), 4u);
    EXPECT_EQ(quantise_mantissa(level(7, 5) / 1024.0, 10, 3), 5u);
    EXPECT_EQ(quantise_mantissa(0.9, 0, 0), 0u);
    expect_error([] { quantise_mantissa(0.5, 0, 16); }, "invalid bap");
}

// A record over its own vectors; level codes for bap 1..5, raw values else.
struct Channel {
    std::vector<double> coefficients;
    std::vector<uint8_t> exponents;
    std::vector<uint8_t> baps;

    void add(uint8_t bap, uint32_t code) {
        baps.push_back(bap);
        exponents.push_back(0);
        coefficients.push_back(bap >= 1 && bap <= 5 ? level(kLevels[bap], code) : 0.0);
    }
    void add_value(uint8_t bap, double value) {
        baps.push_back(bap);
        exponents.push_back(0);
        coefficients.push_back(value);
    }
    ChannelMantissas record() const { return {coefficients, exponents, baps}; }
};

BitWriter write(const std::vector<Channel>& channels) {
    std::vector<ChannelMantissas> records;
    for (const Channel& c : channels) records.push_back(c.record());
    BitWriter writer;
    write_mantissas(writer, records);
    return writer;
}

TEST(WriteMantissas, GroupsBapOneAtFirstMemberAndFillsLastGroup) {
    Channel ch;
    ch.add(1, 0);
    ch.add(1, 2);
    ch.add_value(3, level(7, 6));  // ungrouped, 3 bits, code 6
    ch.add(1, 1);
    ch.add(0, 0);
    ch.add(1, 2);  // fourth bap 1: starts the second group, completed by 1, 1
    const BitWriter w = write({ch});
    ASSERT_EQ(w.bit_count, 5u + 3u + 5u);
    EXPECT_EQ(bits_at(w.bytes, 0, 5), 9u * 0 + 3 * 2 + 1);
    EXPECT_EQ(bits_at(w.bytes, 5, 3), 6u);
    EXPECT_EQ(bits_at(w.bytes, 8, 5), 9u * 2 + 3 * 1 + 1);

    // The same block counted by the allocation side gives the same size.
    BapVector baps;
    for (uint8_t b : ch.baps) baps.values[baps.size++] = b;
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&baps}), w.bit_count);
}

TEST(WriteMantissas, SingleBapFourAndBapTwoPartialGroups) {
    Channel four;
    four.add(4, 3);
    const BitWriter a = write({four});
    ASSERT_EQ(a.bit_count, 7u);
    EXPECT_EQ(bits_at(a.bytes, 0, 7), 11u * 3 + 5);

    Channel two;
    two.add(2, 4);
    const BitWriter b = write({two});
    ASSERT_EQ(b.bit_count, 7u);
    EXPECT_EQ(bits_at(b.bytes, 0, 7), 25u * 4 + 5 * 2 + 2);
}

TEST(WriteMantissas, GroupsSpanChannelBoundaries) {
    // A bap 2 group with two members in channel 0 and one in the coupling
    // channel, written where its first member sits in channel 0; a bap 4 pair
    // split across the second and third record.
    Channel ch0;
    ch0.add(2, 1);
    ch0.add_value(6, 0.5);  // 5 bits: 8
    ch0.add(2, 3);
    Channel cpl;
    cpl.add_value(15, -0.5);  // 16 bits: -32768 -> 0xC000
    cpl.add(2, 0);
    cpl.add(4, 10);
    Channel ch1;
    ch1.add(4, 7);
    ch1.add(2, 4);  // starts a new bap 2 group, completed by 2, 2
    const BitWriter w = write({ch0, cpl, ch1});
    uint32_t pos = 0;
    EXPECT_EQ(bits_at(w.bytes, pos, 7), 25u * 1 + 5 * 3 + 0);
    pos += 7;
    EXPECT_EQ(bits_at(w.bytes, pos, 5), 8u);
    pos += 5;
    EXPECT_EQ(bits_at(w.bytes, pos, 16), 0xC000u);
    pos += 16;
    EXPECT_EQ(bits_at(w.bytes, pos, 7), 11u * 10 + 7);
    pos += 7;
    EXPECT_EQ(bits_at(w.bytes, pos, 7), 25u * 4 + 5 * 2 + 2);
    pos += 7;
    EXPECT_EQ(w.bit_count, pos);
    EXPECT_EQ(w.bytes.size(), (pos + 7) / 8);
}

TEST(WriteMantissas, RejectsMismatchedRecordsAndBadBaps) {
    Channel ok;
    ok.add(3, 0);
    Channel bad = ok;
    bad.exponents.push_back(0);
    BitWriter writer;
    std::vector<ChannelMantissas> records{ok.record(), bad.record()};
    expect_error([&] { write_mantissas(writer, records); }, "mantissa channel vector size mismatch");
    EXPECT_EQ(writer.bit_count, 0u);
    Channel invalid;
    invalid.add_value(17, 0.1);
    expect_error([&] { write({invalid}); }, "invalid bap");
}

}  // namespace
}  // namespace oskavi
