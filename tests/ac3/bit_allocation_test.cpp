#include "ac3/bit_allocation.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/bit_allocation_tables.h"

namespace oskavi {
namespace {

BitAllocParams encoder_codes(uint8_t csnroffst, uint8_t fsnroffst) {
    BitAllocParams p;  // defaults are the encoder's codes 2, 1, 1, 2, 4, 4
    p.csnroffst = csnroffst;
    p.fsnroffst = fsnroffst;
    return p;
}

template <typename Table>
void expect_table(const Table& table, std::size_t count, long long sum, long long first, long long last,
                  const char* name) {
    SCOPED_TRACE(name);
    ASSERT_EQ(table.size(), count);
    EXPECT_EQ(std::accumulate(table.begin(), table.end(), 0LL), sum);
    EXPECT_EQ(static_cast<long long>(table.front()), first);
    EXPECT_EQ(static_cast<long long>(table.back()), last);
}

template <typename F>
void expect_error(F&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no exception, expected: " << message;
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), message);
    }
}

TEST(BitAllocationTables, MatchReferenceCountsSumsAndEnds) {
    expect_table(a52::slowdec, 4, 72, 15, 21, "slowdec");
    expect_table(a52::fastdec, 4, 372, 63, 123, "fastdec");
    expect_table(a52::slowgain, 4, 4768, 1344, 1040, "slowgain");
    expect_table(a52::dbpbtab, 4, 6912, 0, 2816, "dbpbtab");
    expect_table(a52::floortab, 8, 1680, 752, -2048, "floortab");
    expect_table(a52::fastgain, 8, 4608, 128, 1024, "fastgain");
    expect_table(a52::bndtab, 50, 2338, 0, 229, "bndtab");
    expect_table(a52::bndsz, 50, 253, 1, 24, "bndsz");
    expect_table(a52::masktab, 253, 10059, 0, 49, "masktab");
    expect_table(a52::latab, 256, 3414, 64, 0, "latab");
    expect_table(a52::hth, 50, 50304, 1232, 2112, "hth");
    expect_table(a52::baptab, 64, 587, 0, 15, "baptab");
    expect_table(a52::mant_width, 16, 105, 0, 16, "mant_width");
    expect_table(a52::quant_levels, 16, 90121, 0, 65536, "quant_levels");
}

TEST(BitAllocationTables, BandStructureIsConsistent) {
    for (int band = 0; band + 1 < a52::kBandCount; ++band) {
        EXPECT_EQ(a52::bndtab[band] + a52::bndsz[band], a52::bndtab[band + 1]) << band;
    }
    EXPECT_EQ(a52::bndtab[49] + a52::bndsz[49], 253);
    // masktab is the highest band whose first bin is not above the bin.
    for (int bin = 0; bin < 253; ++bin) {
        int band = 49;
        while (a52::bndtab[band] > bin) --band;
        EXPECT_EQ(a52::masktab[bin], band) << bin;
    }
}

TEST(BitAllocation, WorkedExamples) {
    const std::vector<uint8_t> zeros(73, 0);
    const BapVector full = allocate_bits(zeros, 0, 73, encoder_codes(15, 0));
    EXPECT_EQ(full.size, 73);
    for (int bin = 0; bin < 73; ++bin) EXPECT_EQ(full.values[bin], bin <= 27 ? 7 : 6) << bin;

    // LFE range: band 6 is the last band and gets neither a lowcomp update nor
    // the early-exit comparison.
    const std::vector<uint8_t> fives(7, 5);
    const BapVector lfe = allocate_bits(fives, 0, 7, encoder_codes(30, 0));
    EXPECT_EQ(lfe.size, 7);
    for (int bin = 0; bin < 7; ++bin) EXPECT_EQ(lfe.values[bin], 14) << bin;
}

TEST(BitAllocation, ZeroSnrOffsetGivesNoBitsAndBinsOutsideRangeStayZero) {
    const std::vector<uint8_t> loud(256, 0);
    const BapVector none = allocate_bits(loud, 0, 253, encoder_codes(0, 0));
    EXPECT_EQ(none.size, 256);
    for (uint8_t bap : none.values) EXPECT_EQ(bap, 0);
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&none}), 0u);

    const BapVector fine = allocate_bits(loud, 10, 100, encoder_codes(40, 0));
    EXPECT_EQ(fine.size, 256);
    EXPECT_GT(count_mantissa_bits(std::vector<const BapVector*>{&fine}), 0u);
    for (int bin = 0; bin < 256; ++bin) {
        if (bin < 10 || bin >= 100) {
            EXPECT_EQ(fine.values[bin], 0) << bin;
        } else {
            EXPECT_GT(fine.values[bin], 0) << bin;
        }
    }
}

TEST(BitAllocation, CouplingLeaksStartFromTransmittedCodes) {
    // One coupling band (bins 85..96, band 41) of equal exponents 12: psd 1536,
    // band psd 1764. Leaks 3/3 start at 1536, so the mask lands above the psd
    // (bap 0); without leak initialisation the fast leak follows the band
    // (1124) and the bins get bap 3 at csnroffst 15.
    const std::vector<uint8_t> exps(97, 12);
    const BapVector coupled = allocate_coupling_bits(exps, 85, 97, encoder_codes(15, 0), 3, 3);
    const BapVector plain = allocate_bits(exps, 85, 97, encoder_codes(15, 0));
    for (int bin = 85; bin < 97; ++bin) {
        EXPECT_EQ(coupled.values[bin], 0) << bin;
        EXPECT_EQ(plain.values[bin], 3) << bin;
    }
    // Exponent 9 (psd 1920): leaks 7/7 (2560) mask everything, leaks 0 do not.
    const std::vector<uint8_t> nines(97, 9);
    const BapVector high = allocate_coupling_bits(nines, 85, 97, encoder_codes(15, 0), 7, 7);
    const BapVector low = allocate_bits(nines, 85, 97, encoder_codes(15, 0));
    for (int bin = 85; bin < 97; ++bin) {
        EXPECT_EQ(high.values[bin], 0) << bin;
        EXPECT_EQ(low.values[bin], 4) << bin;
    }
}

TEST(BitAllocation, RejectsBadRangesCodesAndLeaks) {
    const std::vector<uint8_t> exps(256, 10);
    const BitAllocParams ok = encoder_codes(20, 4);
    expect_error([&] { allocate_bits(exps, 5, 5, ok); }, "invalid bit-allocation mantissa range");
    expect_error([&] { allocate_bits(exps, 0, 254, ok); }, "invalid bit-allocation mantissa range");
    expect_error([&] { allocate_bits(std::span(exps).first(50), 0, 51, ok); },
                 "invalid bit-allocation mantissa range");
    expect_error([&] { allocate_bits(exps, 6, 5, ok); }, "invalid bit-allocation mantissa range");
    EXPECT_NO_THROW(allocate_bits(exps, 0, 253, ok));

    const auto bad = [&](auto mutate) {
        BitAllocParams p = ok;
        mutate(p);
        expect_error([&] { allocate_bits(exps, 0, 73, p); }, "invalid bit-allocation parameter");
        expect_error([&] { allocate_coupling_bits(exps, 37, 73, p, 3, 3); }, "invalid bit-allocation parameter");
        expect_error([&] { compute_allocation_mask(exps, 0, 73, p); }, "invalid bit-allocation parameter");
    };
    bad([](BitAllocParams& p) { p.sdcycod = 4; });
    bad([](BitAllocParams& p) { p.fdcycod = 4; });
    bad([](BitAllocParams& p) { p.sgaincod = 4; });
    bad([](BitAllocParams& p) { p.dbpbcod = 4; });
    bad([](BitAllocParams& p) { p.floorcod = 8; });
    bad([](BitAllocParams& p) { p.fgaincod = 8; });
    bad([](BitAllocParams& p) { p.csnroffst = 64; });
    bad([](BitAllocParams& p) { p.fsnroffst = 16; });
    // Validation comes before the zero-offset shortcut.
    bad([](BitAllocParams& p) { p.csnroffst = 0; p.fsnroffst = 0; p.floorcod = 8; });

    expect_error([&] { allocate_coupling_bits(exps, 37, 73, ok, 8, 3); }, "invalid coupling leak parameter");
    expect_error([&] { allocate_coupling_bits(exps, 37, 73, ok, 3, 8); }, "invalid coupling leak parameter");
    expect_error([&] { baps_from_mask(compute_allocation_mask(exps, 0, 73, ok), 64, 0); },
                 "invalid bit-allocation parameter");
}

TEST(BitAllocation, MaskReuseMatchesDirectAllocationForAllOffsets) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> exponent(0, 24);
    std::uniform_int_distribution<int> leak(0, 7);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<uint8_t> exps(256);
        // Smooth-ish spectra with occasional jumps, like real exponent sets.
        int e = exponent(rng);
        for (auto& x : exps) {
            e = std::clamp(e + static_cast<int>(rng() % 5) - 2, 0, 24);
            x = static_cast<uint8_t>(trial % 2 == 0 ? e : exponent(rng));
        }
        const uint32_t end = 73 + static_cast<uint32_t>(rng() % 181);
        const uint8_t fleak = static_cast<uint8_t>(leak(rng));
        const uint8_t sleak = static_cast<uint8_t>(leak(rng));
        const BitAllocationMask fbw = compute_allocation_mask(exps, 0, end, encoder_codes(0, 0));
        const BitAllocationMask lfe = compute_allocation_mask(std::span(exps).first(7), 0, 7, encoder_codes(0, 0));
        const BitAllocationMask cpl =
            compute_coupling_allocation_mask(std::span(exps).first(217), 109, 217, encoder_codes(0, 0), fleak, sleak);
        for (int c = 0; c <= 63; ++c) {
            for (int f = 0; f <= 15; ++f) {
                const auto cs = static_cast<uint8_t>(c);
                const auto fs = static_cast<uint8_t>(f);
                const BitAllocParams p = encoder_codes(cs, fs);
                ASSERT_EQ(baps_from_mask(fbw, cs, fs).values, allocate_bits(exps, 0, end, p).values);
                ASSERT_EQ(baps_from_mask(lfe, cs, fs).values, allocate_bits(std::span(exps).first(7), 0, 7, p).values);
                const BapVector direct =
                    allocate_coupling_bits(std::span(exps).first(217), 109, 217, p, fleak, sleak);
                ASSERT_EQ(baps_from_mask(cpl, cs, fs).values, direct.values);
                ASSERT_EQ(direct.size, 217);
            }
        }
    }
}

TEST(BitAllocation, BapsGrowMonotonicallyWithCoarseOffset) {
    // The frame-size search relies on the payload never growing when
    // csnroffst falls.
    std::mt19937 rng(99);
    std::vector<uint8_t> exps(253);
    for (auto& x : exps) x = static_cast<uint8_t>(rng() % 25);
    const BitAllocationMask mask = compute_allocation_mask(exps, 0, 253, encoder_codes(0, 0));
    uint32_t previous = 0;
    for (int c = 1; c <= 63; ++c) {
        const BapVector baps = baps_from_mask(mask, static_cast<uint8_t>(c), 0);
        const uint32_t bits = count_mantissa_bits(std::vector<const BapVector*>{&baps});
        EXPECT_GE(bits, previous) << c;
        previous = bits;
    }
    EXPECT_GT(previous, 0u);
}

BapVector baps_of(std::initializer_list<uint8_t> values) {
    BapVector v;
    for (uint8_t b : values) v.values[v.size++] = b;
    return v;
}

TEST(MantissaBitCount, GroupsAcrossChannelsAndWidths) {
    const BapVector four_ones = baps_of({1, 1, 1, 1});
    const BapVector three_fours = baps_of({4, 0, 4, 4});
    const BapVector one_two = baps_of({0, 2});
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&four_ones}), 10u);
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&three_fours}), 14u);
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&one_two}), 7u);

    // Two channels with two bap 1 each share one full and one partial group.
    const BapVector a = baps_of({1, 3, 1});
    const BapVector b = baps_of({1, 15, 1, 14});
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&a, &b}), 10u + 3u + 16u + 14u);

    const uint32_t widths[16] = {0, 0, 0, 3, 0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};
    for (uint8_t bap = 0; bap < 16; ++bap) EXPECT_EQ(mantissa_width(bap), widths[bap]);
    expect_error([] { mantissa_width(16); }, "invalid bap");
    const BapVector bad = baps_of({3, 16});
    expect_error([&] { count_mantissa_bits(std::vector<const BapVector*>{&bad}); }, "invalid bap");
}

}  // namespace
}  // namespace oskavi
