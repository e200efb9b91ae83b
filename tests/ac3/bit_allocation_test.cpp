// The parametric bit allocation and the mantissa payload it implies, counted
// three ways: count_mantissa_bits over baps, the tally of a mask, and the
// baps derived from a reused mask.

#include "ac3/bit_allocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ac3/bit_allocation_tables.h"
#include "ac3/exponents.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {
namespace {

BitAllocParams codes(uint8_t csnroffst, uint8_t fsnroffst) {
    BitAllocParams p;  // defaults are the encoder's codes 2, 1, 1, 2, 4, 4
    p.csnroffst = csnroffst;
    p.fsnroffst = fsnroffst;
    return p;
}

uint32_t bits_of(std::initializer_list<const BapVector*> channels) {
    return count_mantissa_bits(std::vector<const BapVector*>(channels));
}

// For every SNR offset pair, over random spectra of all three range kinds:
// baps derived from a reused mask equal a fresh allocation, the tally of the
// mask (from the mask or straight from the exponents) counts the bits of
// those baps, and baps_into writes them.
TEST(BitAllocation, MaskReuseAndTalliesAgreeWithDirectAllocation) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<uint8_t> exps(256);
        int e = static_cast<int>(rng() % 25);
        for (auto& x : exps) {  // smooth with occasional jumps, or uniformly random
            e = std::clamp(e + static_cast<int>(rng() % 5) - 2, 0, 24);
            x = static_cast<uint8_t>(trial % 2 == 0 ? e : rng() % 25);
        }
        const uint32_t end = 73 + 3 * static_cast<uint32_t>(rng() % 61);
        const auto fleak = static_cast<uint8_t>(rng() % 8);
        const auto sleak = static_cast<uint8_t>(rng() % 8);
        const auto fbw = std::span(exps).first(end);
        const auto lfe = std::span(exps).first(7);
        const auto cpl = std::span(exps).first(217);
        const struct {
            BitAllocationMask mask;
            std::function<BapVector(const BitAllocParams&)> direct;
        } ranges[] = {
            {compute_allocation_mask(fbw, 0, end, codes(0, 0)), [&](auto& p) { return allocate_bits(fbw, 0, end, p); }},
            {compute_allocation_mask(lfe, 0, 7, codes(0, 0)), [&](auto& p) { return allocate_bits(lfe, 0, 7, p); }},
            {compute_coupling_allocation_mask(cpl, 109, 217, codes(0, 0), fleak, sleak),
             [&](auto& p) { return allocate_coupling_bits(cpl, 109, 217, p, fleak, sleak); }},
        };
        for (const auto& range : ranges) {
            const BitAllocationMask& m = range.mask;
            for (int f = 0; f <= 15; ++f) {
                for (int c = 0; c <= 63; ++c) {
                    const auto cs = static_cast<uint8_t>(c);
                    const auto fs = static_cast<uint8_t>(f);
                    const BapVector baps = baps_from_mask(m, cs, fs);
                    ASSERT_EQ(baps.values, range.direct(codes(cs, fs)).values);
                    const uint32_t bits = bits_of({&baps});
                    ASSERT_EQ(tally_bits(tally_mantissas(m, cs, fs)), bits);
                    ASSERT_EQ(tally_bits(tally_mantissas(exps.data(), m.mask, m.start, m.end, m.floor, cs, fs)), bits);
                    std::vector<uint8_t> written(256, 99);
                    baps_into(written.data(), exps.data(), m.mask, m.start, m.end, m.floor, cs, fs);
                    for (uint32_t bin = m.start; bin < m.end; ++bin) ASSERT_EQ(written[bin], baps.values[bin]);
                    ASSERT_EQ(written[m.end], 99);  // nothing outside the range is touched
                }
            }
        }
    }
}

// Over random spectra shaped into D15, D25 and D45 sets: the band masks alone
// equal those of the full mask, shape_exponents gives the set's exponents and
// group count, and the step-wise tally equals the bin-by-bin one at every
// SNR offset pair.
TEST(BitAllocation, ShapedSetsTallyStepByStepAsBinByBin) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 8; ++trial) {
        std::vector<uint8_t> raw(256);
        for (auto& x : raw) x = static_cast<uint8_t>(rng() % 25);
        const uint32_t end = 37 + static_cast<uint32_t>(rng() % 217);
        for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
            const ExponentSet set = prepare_exponent_set(std::span(raw).first(end), strategy, end);
            std::array<uint8_t, kBinsPerBlock> shaped;
            ASSERT_EQ(shape_exponents(std::span(raw).first(end), strategy, end, shaped), set.group_count);
            ASSERT_EQ(shaped, set.exponents);
            const auto coded = std::span<const uint8_t>(set.exponents.data(), end);
            const BitAllocationMask m = compute_allocation_mask(coded, 0, end, codes(0, 0));
            std::array<int32_t, 50> band_mask;
            ASSERT_EQ(compute_band_mask(coded, 0, end, codes(0, 0), band_mask), m.floor);
            const int bands = a52::masktab[end - 1] + 1;
            ASSERT_TRUE(std::equal(band_mask.begin(), band_mask.begin() + bands, m.mask.begin()));
            const uint32_t group_size = strategy == kExpD15 ? 1 : strategy == kExpD25 ? 2 : 4;
            for (int f = 0; f <= 15; ++f) {
                for (int c = 0; c <= 63; ++c) {
                    const auto cs = static_cast<uint8_t>(c);
                    const auto fs = static_cast<uint8_t>(f);
                    const MantissaTally plain = tally_mantissas(m, cs, fs);
                    const MantissaTally stepped =
                        tally_stepped_mantissas(set.exponents.data(), group_size, band_mask, end, m.floor, cs, fs);
                    ASSERT_TRUE(stepped.bap1 == plain.bap1 && stepped.bap2 == plain.bap2 &&
                                stepped.bap4 == plain.bap4 && stepped.bits == plain.bits)
                        << int{strategy} << " " << c << " " << f << " " << end;
                }
            }
        }
    }
}

}  // namespace
}  // namespace oskavi
