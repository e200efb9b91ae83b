// The choice of exponent strategies within a frame. Raw exponents and the
// transmitted sets are compared with their plain definition and a decoder's
// reading in definition_equivalence_test.cpp.

#include "ac3/exponents.h"

#include <gtest/gtest.h>


#include "ac3/exponent_strategy.h"
#include "ac3/frame_planning.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;


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
        plan.cplinu = k.cplinu;
        plan.cplstrtmant = 97;
        plan.cplendmant = 205;
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
