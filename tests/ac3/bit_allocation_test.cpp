// The parametric bit allocation and the mantissa payload it implies, counted
// three ways: count_mantissa_bits over baps, the tally of a mask, and the
// baps derived from a reused mask.

#include "ac3/bit_allocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ac3/mantissa_tally.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

using test::error_of;

BitAllocParams codes(uint8_t csnroffst, uint8_t fsnroffst) {
    BitAllocParams p;  // defaults are the encoder's codes 2, 1, 1, 2, 4, 4
    p.csnroffst = csnroffst;
    p.fsnroffst = fsnroffst;
    return p;
}

uint32_t bits_of(std::initializer_list<const BapVector*> channels) {
    return count_mantissa_bits(std::vector<const BapVector*>(channels));
}

TEST(BitAllocation, WorkedExamples) {
    const BapVector full = allocate_bits(std::vector<uint8_t>(73, 0), 0, 73, codes(15, 0));
    EXPECT_EQ(full.size, 73);
    for (int bin = 0; bin < 73; ++bin) EXPECT_EQ(full.values[bin], bin <= 27 ? 7 : 6) << bin;

    // LFE range: band 6 is the last band and gets neither a lowcomp update
    // nor the early-exit comparison.
    const BapVector lfe = allocate_bits(std::vector<uint8_t>(7, 5), 0, 7, codes(30, 0));
    for (int bin = 0; bin < 7; ++bin) EXPECT_EQ(lfe.values[bin], 14) << bin;

    // One coupling band (bins 85..96) of exponents 12: leaks 3/3 start at
    // psd 1536, so the mask lands above the psd (bap 0); the plain
    // allocation's fast leak follows the band and the bins get bap 3.
    const std::vector<uint8_t> twelves(97, 12);
    const BapVector coupled = allocate_coupling_bits(twelves, 85, 97, codes(15, 0), 3, 3);
    const BapVector plain = allocate_bits(twelves, 85, 97, codes(15, 0));
    for (int bin = 85; bin < 97; ++bin) {
        EXPECT_EQ(coupled.values[bin], 0) << bin;
        EXPECT_EQ(plain.values[bin], 3) << bin;
    }
}

TEST(BitAllocation, ZeroSnrOffsetGivesNoBitsAndBinsOutsideTheRangeStayZero) {
    const std::vector<uint8_t> loud(256, 0);
    const BapVector none = allocate_bits(loud, 0, 253, codes(0, 0));
    EXPECT_TRUE(std::all_of(none.values.begin(), none.values.end(), [](uint8_t b) { return b == 0; }));
    const BapVector some = allocate_bits(loud, 10, 100, codes(40, 0));
    for (int bin = 0; bin < 256; ++bin) EXPECT_EQ(some.values[bin] > 0, bin >= 10 && bin < 100) << bin;
}

TEST(BitAllocation, RejectsBadRangesCodesAndLeaksWithTheirMessages) {
    const std::vector<uint8_t> exps(256, 10);
    const BitAllocParams ok = codes(20, 4);
    for (auto [start, end, size] : {std::array<uint32_t, 3>{5, 5, 256}, {0, 254, 256}, {0, 51, 50}, {6, 5, 256}}) {
        EXPECT_EQ(error_of([&] { allocate_bits(std::span(exps).first(size), start, end, ok); }),
                  "invalid bit-allocation mantissa range");
    }
    const std::function<void(BitAllocParams&)> bad_codes[] = {
        [](BitAllocParams& p) { p.sdcycod = 4; },   [](BitAllocParams& p) { p.fdcycod = 4; },
        [](BitAllocParams& p) { p.sgaincod = 4; },  [](BitAllocParams& p) { p.dbpbcod = 4; },
        [](BitAllocParams& p) { p.floorcod = 8; },  [](BitAllocParams& p) { p.fgaincod = 8; },
        [](BitAllocParams& p) { p.csnroffst = 64; }, [](BitAllocParams& p) { p.fsnroffst = 16; },
        // Validation comes before the zero-offset shortcut.
        [](BitAllocParams& p) { p = codes(0, 0); p.floorcod = 8; }};
    for (const auto& mutate : bad_codes) {
        BitAllocParams p = ok;
        mutate(p);
        EXPECT_EQ(error_of([&] { allocate_bits(exps, 0, 73, p); }), "invalid bit-allocation parameter");
        EXPECT_EQ(error_of([&] { allocate_coupling_bits(exps, 37, 73, p, 3, 3); }), "invalid bit-allocation parameter");
        EXPECT_EQ(error_of([&] { compute_allocation_mask(exps, 0, 73, p); }), "invalid bit-allocation parameter");
    }
    const BitAllocationMask mask = compute_allocation_mask(exps, 0, 73, ok);
    EXPECT_EQ(error_of([&] { baps_from_mask(mask, 64, 0); }), "invalid bit-allocation parameter");
    EXPECT_EQ(error_of([&] { tally_mantissas(mask, 64, 0); }), "invalid bit-allocation parameter");
    EXPECT_EQ(error_of([&] { tally_mantissas(mask, 0, 16); }), "invalid bit-allocation parameter");
    EXPECT_EQ(error_of([&] { allocate_coupling_bits(exps, 37, 73, ok, 8, 3); }), "invalid coupling leak parameter");
    EXPECT_EQ(error_of([&] { allocate_coupling_bits(exps, 37, 73, ok, 3, 8); }), "invalid coupling leak parameter");
}

BapVector baps_of(std::initializer_list<uint8_t> values) {
    BapVector v;
    for (uint8_t b : values) v.values[v.size++] = b;
    return v;
}

TEST(MantissaBits, GroupsAcrossChannelsAndWidths) {
    const BapVector four_ones = baps_of({1, 1, 1, 1});     // a full and a partial group of 5 bits
    const BapVector three_fours = baps_of({4, 0, 4, 4});   // two pairs of 7 bits
    const BapVector one_two = baps_of({0, 2});             // a partial group of 7 bits
    EXPECT_EQ(bits_of({&four_ones}), 10u);
    EXPECT_EQ(bits_of({&three_fours}), 14u);
    EXPECT_EQ(bits_of({&one_two}), 7u);
    // Two channels with two bap 1 each share one full and one partial group.
    const BapVector a = baps_of({1, 3, 1});
    const BapVector b = baps_of({1, 15, 1, 14});
    EXPECT_EQ(bits_of({&a, &b}), 10u + 3u + 16u + 14u);
    const BapVector bad = baps_of({3, 16});
    EXPECT_EQ(error_of([&] { bits_of({&bad}); }), "invalid bap");
    EXPECT_EQ(error_of([] { mantissa_width(16); }), "invalid bap");
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

}  // namespace
}  // namespace oskavi
