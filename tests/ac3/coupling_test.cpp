// The stereo stages of a frame: when channels are coupled or rematrixed, and
// when coupling coordinates are sent again.

#include "ac3/coupling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ac3/exponents.h"
#include "ac3/rematrixing.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;
using Flags = std::array<uint8_t, 4>;

// Deterministic, sign-varying, never-zero coefficients.
Coefficients test_signal(uint32_t seed) {
    Coefficients x{};
    uint32_t state = seed;
    for (double& v : x) {
        state = state * 1664525u + 1013904223u;
        v = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) + ((state & 1) ? 0.01 : -0.01);
    }
    return x;
}

Coefficients scaled(const Coefficients& x, double gain) {
    Coefficients y{};
    for (size_t k = 0; k < x.size(); ++k) y[k] = gain * x[k];
    return y;
}

// Stereo frame whose right channel is `right_gain` times the left.
Blocks stereo_frame(double right_gain) {
    Blocks blocks{};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        blocks[b].coefficients[0] = test_signal(40 + b);
        blocks[b].coefficients[1] = scaled(blocks[b].coefficients[0], right_gain);
        for (int c = 0; c < 2; ++c) blocks[b].raw_exponents[c] = raw_exponents(blocks[b].coefficients[c]);
    }
    return blocks;
}

TEST(CouplingAnalysis, IdenticalChannelsCoupleAt192ButNotAt256) {
    Blocks at256 = stereo_frame(1.0);
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 256), at256, 256, true).in_use, 0);
    for (const BlockAnalysis& block : at256) {
        EXPECT_EQ(block.rematflg, (Flags{1, 1, 1, 1}));
        EXPECT_EQ(block.raw_exponents[1][200], 24);  // rematrixed up to bin 252, exponents refreshed
    }
    for (const bool reuse : {true, false}) {
        Blocks at192 = stereo_frame(1.0);
        const Blocks original = at192;
        ASSERT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 192), at192, 192, reuse).in_use, 1);
        for (int b = 0; b < kBlocksPerFrame; ++b) {
            const BlockAnalysis& block = at192[b];
            EXPECT_EQ(block.rematflg, (Flags{1, 1, 1, 1}));
            EXPECT_EQ(block.coefficients[1][96], 0.0);                              // last rematrixed bin
            EXPECT_EQ(block.coefficients[1][97], original[b].coefficients[1][97]);  // coupling range untouched
            EXPECT_EQ(block.cpl_raw_exponents, raw_exponents(block.cpl_coefficients));
            for (int ch = 0; ch < 2; ++ch) {
                // Unchanged coordinates are sent once, in block 0, when reuse is on.
                EXPECT_EQ(block.coupling[ch].new_coordinates, b == 0 || !reuse ? 1 : 0) << b;
            }
        }
    }
}

TEST(CouplingAnalysis, CoordinatesAreResentWhenTheyOrThePhaseFlagsChange) {
    Blocks blocks{};
    ChannelCouplingCoordinates coords;
    coords.bands.assign(9, CouplingCoordinate{1, 2, 0.3});
    for (BlockAnalysis& block : blocks) {
        block.coupling = {coords, coords};
        block.phsflg.assign(9, 0);
    }
    for (int b = 2; b < kBlocksPerFrame; ++b) blocks[b].phsflg[4] = 1;                    // phase changes at 2
    for (int b = 4; b < kBlocksPerFrame; ++b) blocks[b].coupling[0].bands[0].cplcomant = 3;  // left changes at 4
    blocks[5].coupling[1].mstrcplco = 1;                                                   // right changes at 5
    mark_coordinate_reuse(blocks);
    const std::array<std::array<int, 2>, kBlocksPerFrame> want{{{1, 1}, {0, 0}, {0, 1}, {0, 0}, {1, 0}, {0, 1}}};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        EXPECT_EQ(blocks[b].coupling[0].new_coordinates, want[b][0]) << b;
        EXPECT_EQ(blocks[b].coupling[1].new_coordinates, want[b][1]) << b;
    }
}

}  // namespace
}  // namespace oskavi
