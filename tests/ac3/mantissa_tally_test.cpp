#include "ac3/mantissa_tally.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/bit_allocation.h"

namespace oskavi {
namespace {

std::vector<uint8_t> random_exponents(std::mt19937& rng, bool smooth) {
    std::vector<uint8_t> exps(256);
    int e = static_cast<int>(rng() % 25);
    for (auto& x : exps) {
        e = std::clamp(e + static_cast<int>(rng() % 5) - 2, 0, 24);
        x = static_cast<uint8_t>(smooth ? e : rng() % 25);
    }
    return exps;
}

// The tally of a mask equals the bit count of the baps it yields, for every
// SNR offset, range kind and spectrum shape; the baps written straight from
// the exponents equal baps_from_mask over the allocated range.
TEST(MantissaTally, EqualsTheCountOfTheDerivedBaps) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 8; ++trial) {
        const std::vector<uint8_t> exps = random_exponents(rng, trial % 2 == 0);
        const uint32_t end = 73 + 3 * static_cast<uint32_t>(rng() % 61);
        const BitAllocParams codes;
        const std::vector<BitAllocationMask> masks = {
            compute_allocation_mask(std::span(exps).first(end), 0, end, codes),
            compute_allocation_mask(std::span(exps).first(7), 0, 7, codes),
            compute_coupling_allocation_mask(std::span(exps).first(217), 109, 217, codes,
                                             static_cast<uint8_t>(rng() % 8), static_cast<uint8_t>(rng() % 8)),
        };
        for (const BitAllocationMask& mask : masks) {
            for (int c = 0; c <= 63; ++c) {
                for (int f = 0; f <= 15; f += 3) {
                    const auto cs = static_cast<uint8_t>(c);
                    const auto fs = static_cast<uint8_t>(f);
                    const BapVector baps = baps_from_mask(mask, cs, fs);
                    const BapVector* const block[] = {&baps};
                    const uint32_t counted = count_mantissa_bits(block);
                    ASSERT_EQ(tally_bits(tally_mantissas(mask, cs, fs)), counted);
                    const MantissaTally direct =
                        tally_mantissas(exps.data(), mask.mask, mask.start, mask.end, mask.floor, cs, fs);
                    ASSERT_EQ(tally_bits(direct), counted);

                    std::vector<uint8_t> written(256, 99);
                    baps_into(written.data(), exps.data(), mask.mask, mask.start, mask.end, mask.floor, cs, fs);
                    for (uint32_t bin = mask.start; bin < mask.end; ++bin) ASSERT_EQ(written[bin], baps.values[bin]);
                    EXPECT_EQ(written[mask.end], 99);  // nothing outside the range is touched
                }
            }
        }
    }
}

// Grouping applies to the block's totals: tallies of two channels add up
// before the incomplete groups are rounded up.
TEST(MantissaTally, GroupsAcrossChannelsLikeTheBlockCount) {
    std::mt19937 rng(5);
    const std::vector<uint8_t> a = random_exponents(rng, true);
    const std::vector<uint8_t> b = random_exponents(rng, false);
    const BitAllocParams codes;
    const BitAllocationMask ma = compute_allocation_mask(std::span(a).first(253), 0, 253, codes);
    const BitAllocationMask mb = compute_allocation_mask(std::span(b).first(100), 0, 100, codes);
    for (uint8_t cs : {5, 15, 30, 45}) {
        const BapVector ba = baps_from_mask(ma, cs, 7);
        const BapVector bb = baps_from_mask(mb, cs, 2);
        const BapVector* const block[] = {&ba, &bb};
        MantissaTally sum = tally_mantissas(ma, cs, 7);
        sum += tally_mantissas(mb, cs, 2);
        EXPECT_EQ(tally_bits(sum), count_mantissa_bits(block)) << int(cs);
    }
    MantissaTally four_bap1;
    four_bap1.bap1 = 4;
    four_bap1.bap4 = 3;
    four_bap1.bits = 9;
    EXPECT_EQ(tally_bits(four_bap1), 10u + 14u + 9u);
}

TEST(MantissaTally, RejectsOffsetsOutOfRange) {
    const std::vector<uint8_t> exps(73, 10);
    const BitAllocationMask mask = compute_allocation_mask(exps, 0, 73, BitAllocParams{});
    for (auto [cs, fs] : {std::pair<int, int>{64, 0}, {0, 16}}) {
        try {
            tally_mantissas(mask, static_cast<uint8_t>(cs), static_cast<uint8_t>(fs));
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "invalid bit-allocation parameter");
        }
    }
    EXPECT_EQ(tally_bits(tally_mantissas(mask, 0, 0)), 0u);
}

}  // namespace
}  // namespace oskavi
