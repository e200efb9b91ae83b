#include "ac3/exponent_strategy.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "ac3/bit_allocation.h"
#include "ac3/exponents.h"
#include "ac3/frame_planning.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

// Deterministic noise of magnitude up to `level` in bins [first, end).
void fill_noise(BlockAnalysis& block, int channel, int first, int end, double level, uint32_t seed) {
    uint32_t state = seed;
    for (int k = first; k < end; ++k) {
        state = state * 1664525u + 1013904223u;
        block.coefficients[channel][k] = level * (static_cast<double>(state >> 8) / 16777216.0 - 0.5);
    }
}

void refresh_exponents(Blocks& blocks, int nfbw) {
    for (BlockAnalysis& block : blocks) {
        for (int c = 0; c < nfbw; ++c) block.raw_exponents[c] = raw_exponents(block.coefficients[c]);
        block.lfe_raw_exponents = raw_exponents(block.lfe_coefficients);
    }
}

// Blocks whose exponents set a new exponent set for channel c.
int refreshes(const FramePlan& plan, int c) {
    int count = 0;
    for (int b = 0; b < kBlocksPerFrame; ++b) count += plan.chexpstr[b][c] != kExpReuse;
    return count;
}

// Steady noise in blocks 0..2 over the whole band, then only the low bins:
// a second exponent set in block 3 saves many mantissa bits.
Blocks changing_frame(int nfbw) {
    Blocks blocks{};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        for (int c = 0; c < nfbw; ++c) fill_noise(blocks[b], c, 0, b < 3 ? 240 : 20, 1.0, 17 * b + c + 1);
    }
    refresh_exponents(blocks, nfbw);
    return blocks;
}

void expect_sets_follow_strategies(const Blocks& blocks, const FramePlan& plan, int c) {
    ASSERT_NE(plan.chexpstr[0][c], kExpReuse);
    int run_start = 0;
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        if (plan.chexpstr[b][c] != kExpReuse) run_start = b;
        const ExponentSet& set = blocks[b].exponent_sets[c];
        EXPECT_EQ(set.strategy, plan.chexpstr[run_start][c]) << b;
        EXPECT_EQ(set.exponents, blocks[run_start].exponent_sets[c].exponents) << b;
        EXPECT_EQ(set.bin_count, plan.endmant[c]);
    }
}

TEST(SegmentCost, ShortBlocksForceD45AndTonalChannelsD15) {
    Blocks blocks{};
    for (int b = 0; b < kBlocksPerFrame; ++b) fill_noise(blocks[b], 0, 0, 253, 1.0, b + 1);
    refresh_exponents(blocks, 1);
    blocks[4].blksw[0] = 1;
    const FramePlan plan = plan_frame(blocks, 640, 1, false, CouplingPlan{});
    ASSERT_GT(plan.flatness[0], 0.25);

    const ExponentCandidate switched = segment_cost(blocks, 0, 2, 6, plan);
    EXPECT_EQ(switched.set.strategy, kExpD45);
    // Cost: mantissas of the four blocks plus seven bits a group and 12.
    BitAllocParams params;
    params.csnroffst = 30;
    params.fsnroffst = plan.fsnroffst[0];
    const uint32_t n = plan.endmant[0];
    const BapVector baps = allocate_bits(std::span<const uint8_t>(switched.set.exponents.data(), n), 0, n, params);
    const BapVector* const list[] = {&baps};
    EXPECT_EQ(switched.cost, 4 * count_mantissa_bits(list) + 7 * ((n + 8) / 12) + 12);

    FramePlan tonal = plan;
    tonal.flatness[0] = 0.05;
    EXPECT_EQ(segment_cost(blocks, 0, 0, 4, tonal).set.strategy, kExpD15);
    EXPECT_EQ(segment_cost(blocks, 0, 3, 6, tonal).set.strategy, kExpD45);  // short block wins over tonality
    FramePlan semi_tonal = plan;
    semi_tonal.flatness[0] = 0.2;
    EXPECT_NE(segment_cost(blocks, 0, 0, 4, semi_tonal).set.strategy, kExpD45);
}

TEST(ExponentReuse, SilentChannelSendsOneD15Set) {
    Blocks blocks = changing_frame(1);
    refresh_exponents(blocks, 2);  // channel 1 stays silent
    FramePlan plan = plan_frame(blocks, 448, 2, false, CouplingPlan{});
    plan_exponent_reuse(blocks, plan, 2, false, true, 448);
    EXPECT_EQ(plan.endmant[1], 73u);
    EXPECT_EQ(plan.chexpstr[0][1], kExpD15);
    EXPECT_EQ(refreshes(plan, 1), 1);
    expect_sets_follow_strategies(blocks, plan, 1);
    for (const BlockAnalysis& block : blocks) EXPECT_EQ(block.exponent_sets[1].exponents[40], 24);
}

TEST(ExponentReuse, RefreshOnlyAtHighRatesForUncoupledMonoAndStereo) {
    Blocks blocks = changing_frame(2);
    FramePlan plan = plan_frame(blocks, 448, 2, false, CouplingPlan{});
    plan_exponent_reuse(blocks, plan, 2, false, true, 448);
    for (int c = 0; c < 2; ++c) {
        EXPECT_GT(refreshes(plan, c), 1) << c;
        EXPECT_NE(plan.chexpstr[3][c], kExpReuse) << c;
        expect_sets_follow_strategies(blocks, plan, c);
        // After the change the set follows the quieter spectrum.
        EXPECT_GT(blocks[5].exponent_sets[c].exponents[100], blocks[0].exponent_sets[c].exponents[100]);
    }

    struct Case {
        const char* name;
        uint32_t kbps;
        bool adaptation;
        uint8_t cplinu;
    };
    for (const Case& k : {Case{"384 kbit/s", 384, true, 0}, Case{"adaptation off", 448, false, 0},
                          Case{"coupling", 448, true, 1}}) {
        Blocks copy = changing_frame(2);
        FramePlan single = plan_frame(copy, k.kbps, 2, false, CouplingPlan{});
        single.cplinu = k.cplinu;
        single.cplstrtmant = 97;
        single.cplendmant = 205;
        plan_exponent_reuse(copy, single, 2, false, k.adaptation, k.kbps);
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(refreshes(single, c), 1) << k.name;
            expect_sets_follow_strategies(copy, single, c);
        }
    }

    Blocks surround = changing_frame(5);
    FramePlan five = plan_frame(surround, 640, 5, false, CouplingPlan{});
    plan_exponent_reuse(surround, five, 5, false, true, 640);
    for (int c = 0; c < 5; ++c) EXPECT_EQ(refreshes(five, c), 1) << c;

    // Identical blocks never pay for a second set.
    Blocks steady{};
    for (BlockAnalysis& block : steady) fill_noise(block, 0, 0, 253, 1.0, 5);
    refresh_exponents(steady, 1);
    FramePlan mono = plan_frame(steady, 640, 1, false, CouplingPlan{});
    plan_exponent_reuse(steady, mono, 1, false, true, 640);
    EXPECT_EQ(refreshes(mono, 0), 1);
}

TEST(ExponentReuse, CouplingAndLfeSetsAreInForceInEveryBlock) {
    Blocks blocks = changing_frame(2);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        for (int k = 97; k < 205; ++k) blocks[b].cpl_raw_exponents[k] = static_cast<uint8_t>(10 + (k + b) % 5);
        blocks[b].lfe_present = true;
        for (int k = 0; k < kLfeCodedBins; ++k) blocks[b].lfe_raw_exponents[k] = static_cast<uint8_t>(8 + b + k);
    }
    FramePlan plan = plan_frame(blocks, 192, 2, false, CouplingPlan{});
    plan.cplinu = 1;
    plan.cplstrtmant = 97;
    plan.cplendmant = 205;
    plan_exponent_reuse(blocks, plan, 2, true, true, 192);
    for (const BlockAnalysis& block : blocks) {
        const ExponentSet& cpl = block.cpl_exponent_set;
        EXPECT_EQ(cpl.strategy, kExpD15);
        EXPECT_EQ(cpl.bin_count, 205);
        EXPECT_EQ(cpl.group_count, 36);
        EXPECT_EQ(cpl.exponents[97], 10);  // minimum over the blocks of bin 97
        EXPECT_EQ(cpl.exponents, blocks[0].cpl_exponent_set.exponents);

        const ExponentSet& lfe = block.lfe_exponent_set;
        EXPECT_EQ(lfe.strategy, kExpD15);
        EXPECT_EQ(lfe.bin_count, kLfeCodedBins);
        EXPECT_EQ(lfe.group_count, 2);
        for (int k = 0; k < kLfeCodedBins; ++k) EXPECT_EQ(lfe.exponents[k], 8 + k) << k;  // block 0 is smallest
    }
}

}  // namespace
}  // namespace oskavi
