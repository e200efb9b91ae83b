// Raw exponents, transmitted exponent sets and the choice of exponent
// strategies within a frame. The sets are also compared with their plain
// definition and a decoder's reading in definition_equivalence_test.cpp.

#include "ac3/exponents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "ac3/exponent_strategy.h"
#include "ac3/frame_planning.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

using test::error_of;
using Exponents = std::vector<uint8_t>;
using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

TEST(RawExponents, FollowTheBinaryExponentOfEachCoefficient) {
    const std::pair<double, int> cases[] = {
        {0.5, 0}, {-1000.0, 0}, {std::nextafter(0.5, 0.0), 1}, {-0.2, 2}, {std::ldexp(1.0, -24), 23},
        {std::ldexp(1.0, -25), 24}, {std::numeric_limits<double>::denorm_min(), 24}, {0.0, 24}};
    for (const auto& [value, exponent] : cases) {
        Coefficients c{};
        c[17] = value;
        EXPECT_EQ(raw_exponents(c)[17], exponent) << value;
    }
}

TEST(ExponentSet, GroupingSlewLimitAndAbsoluteExponent) {
    EXPECT_EQ(prepare_exponent_set(Exponents(256, 10), kExpD15, 73).group_count, 24);
    EXPECT_EQ(prepare_exponent_set(Exponents(256, 10), kExpD25, 73).group_count, 12);
    EXPECT_EQ(prepare_exponent_set(Exponents(256, 10), kExpD45, 73).group_count, 6);

    Exponents spike(256, 0);
    spike[1] = 24;  // 0, 24, 0 is sent as 0, 2, 0: differences +2, -2, 0
    const ExponentSet slewed = prepare_exponent_set(spike, kExpD15, 73);
    EXPECT_EQ(std::vector<int>(slewed.exponents.begin(), slewed.exponents.begin() + 3), (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(slewed.group_codes[0], 25 * 4 + 5 * 0 + 2);

    Exponents loud_start(256, 24);
    loud_start[0] = 20;  // the 4-bit absolute exponent caps it at 15, the slew climbs from there
    const ExponentSet capped = prepare_exponent_set(loud_start, kExpD15, 73);
    EXPECT_EQ(capped.absolute_exponent, 15);
    EXPECT_EQ(std::vector<int>(capped.exponents.begin(), capped.exponents.begin() + 7),
              (std::vector<int>{15, 17, 19, 21, 23, 24, 24}));
}

TEST(ExponentSet, RejectsBadArgumentsWithTheirMessages) {
    const Exponents e(256, 5);
    EXPECT_EQ(error_of([&] { prepare_exponent_set(e, kExpReuse, 73); }), "cannot prepare a reuse exponent set");
    EXPECT_EQ(error_of([&] { prepare_exponent_set(e, kExpD15, 0); }), "invalid exponent coefficient count");
    EXPECT_EQ(error_of([&] { prepare_exponent_set(Exponents(50, 5), kExpD25, 51); }),
              "invalid exponent coefficient count");
    EXPECT_EQ(error_of([&] { prepare_exponent_set(e, 4, 73); }), "reuse is not a transmitted exponent set");
    EXPECT_EQ(error_of([&] { prepare_exponent_set(e, kExpD45, 253); }), "");
}

// --- Exponent strategies ---

// Noise over the whole band, from block `narrow_from` on only in the low
// bins: a second exponent set there saves many mantissa bits.
Blocks noise_frame(int nfbw, int narrow_from) {
    Blocks blocks{};
    uint32_t state = 1;
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        for (int c = 0; c < nfbw; ++c) {
            for (int k = 0; k < (b < narrow_from ? 253 : 20); ++k) {
                state = state * 1664525u + 1013904223u;
                blocks[b].coefficients[c][k] = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
            }
            blocks[b].raw_exponents[c] = raw_exponents(blocks[b].coefficients[c]);
        }
    }
    return blocks;
}

int refreshes(const FramePlan& plan, int c) {
    int count = 0;
    for (int b = 0; b < kBlocksPerFrame; ++b) count += plan.chexpstr[b][c] != kExpReuse;
    return count;
}

TEST(ExponentStrategy, ShortBlocksForceD45AndTonalChannelsD15) {
    Blocks blocks = noise_frame(1, kBlocksPerFrame);
    blocks[4].blksw[0] = 1;
    const FramePlan plan = plan_frame(blocks, 640, 1, false, CouplingPlan{});
    ASSERT_GT(plan.flatness[0], 0.25);
    EXPECT_EQ(segment_cost(blocks, 0, 2, 6, plan).set.strategy, kExpD45);
    FramePlan tonal = plan;
    tonal.flatness[0] = 0.05;
    EXPECT_EQ(segment_cost(blocks, 0, 0, 4, tonal).set.strategy, kExpD15);
    EXPECT_EQ(segment_cost(blocks, 0, 3, 6, tonal).set.strategy, kExpD45);  // the short block wins
}

TEST(ExponentStrategy, SetsAreRefreshedOnlyAtHighRatesForUncoupledMonoAndStereo) {
    const struct {
        const char* name;
        int nfbw;
        uint32_t kbps;
        bool adaptation;
        uint8_t cplinu;
        bool refreshed;
    } cases[] = {{"stereo at 448", 2, 448, true, 0, true},       {"mono at 448", 1, 448, true, 0, true},
                 {"stereo at 384", 2, 384, true, 0, false},      {"adaptation off", 2, 448, false, 0, false},
                 {"coupled stereo at 448", 2, 448, true, 1, false}, {"five channels at 640", 5, 640, true, 0, false}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Blocks blocks = noise_frame(k.nfbw, 3);
        FramePlan plan = plan_frame(blocks, k.kbps, k.nfbw, false, CouplingPlan{});
        plan.coupling.in_use = k.cplinu;
        plan.coupling.cplstrtmant = 97;
        plan.coupling.cplendmant = 205;
        plan_exponent_reuse(blocks, plan, k.nfbw, false, k.adaptation, k.kbps);
        for (int c = 0; c < k.nfbw; ++c) {
            EXPECT_EQ(refreshes(plan, c) > 1, k.refreshed) << c;
            // Every block carries the set of the run it belongs to.
            int run = 0;
            for (int b = 0; b < kBlocksPerFrame; ++b) {
                if (plan.chexpstr[b][c] != kExpReuse) run = b;
                EXPECT_EQ(blocks[b].exponent_sets[c].strategy, plan.chexpstr[run][c]) << b;
                EXPECT_EQ(blocks[b].exponent_sets[c].exponents, blocks[run].exponent_sets[c].exponents) << b;
            }
        }
    }
}

}  // namespace
}  // namespace oskavi
