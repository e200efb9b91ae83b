// The stereo stages of a frame: rematrixing, channel coupling and the
// coupling channel's exponents.

#include "ac3/coupling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "ac3/exponents.h"
#include "ac3/rematrixing.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

using test::error_of;
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

// A rematrixed block sends bins 13..252 as ((L + R) / 2, (L - R) / 2).
TEST(Rematrixing, SumOrDifferenceIsChosenWhenItIsCheaper) {
    const Coefficients a = test_signal(7);
    Coefficients even{};  // interleaved spectra: sum and difference each carry both channels
    Coefficients odd{};
    for (int k = 0; k < kBinsPerBlock; ++k) (k % 2 ? odd : even)[k] = a[k];
    const struct {
        const char* name;
        Coefficients left, right;
        bool rematrixed;
    } cases[] = {{"identical", a, a, true},
                 {"opposite", a, scaled(a, -1.0), true},
                 {"right silent", a, Coefficients{}, false},
                 {"unrelated", even, odd, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Coefficients left = c.left;
        Coefficients right = c.right;
        EXPECT_EQ(rematrix_block(left, right, kRematrixUpperBin), (c.rematrixed ? Flags{1, 1, 1, 1} : Flags{}));
        for (int k = 0; k < kBinsPerBlock; ++k) {
            const bool sum = c.rematrixed && k >= 13 && k < 253;
            EXPECT_EQ(left[k], sum ? (c.left[k] + c.right[k]) / 2 : c.left[k]) << k;
            EXPECT_EQ(right[k], sum ? (c.left[k] - c.right[k]) / 2 : c.right[k]) << k;
        }
    }
}

TEST(CouplingPlan, BitRateChoosesTheCouplingRange) {
    for (auto [kbps, start] : {std::pair<uint32_t, uint32_t>{128, 85}, {192, 97}, {256, 109}}) {
        const CouplingPlan plan = plan_coupling(true, kbps);
        ASSERT_EQ(plan.in_use, 1) << kbps;
        EXPECT_EQ(plan.cplstrtmant, start);
        EXPECT_EQ(plan.cplendmant, start + 108);
        ASSERT_EQ(plan.bands.size(), 9u);
        EXPECT_EQ(plan.bands[8].end_bin, start + 108);
    }
    for (uint32_t kbps : {32u, 112u, 320u, 640u}) EXPECT_EQ(plan_coupling(true, kbps).in_use, 0) << kbps;
    EXPECT_EQ(plan_coupling(false, 192).in_use, 0);
}

TEST(CouplingCoordinates, QuantisationPicksExactAndLargestValues) {
    // 0.96875 = 31/32 is the largest coordinate; larger values clamp to it;
    // zero is mantissa 0 of exponent 15.
    const ChannelCouplingCoordinates q = quantize_coupling_coordinates(std::vector<double>{0.96875, 2.0, 0.0, 0.5});
    EXPECT_EQ(q.mstrcplco, 0);
    const std::array<std::array<int, 2>, 4> want{{{0, 15}, {0, 15}, {15, 0}, {0, 0}}};
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(q.bands[i].cplcoexp, want[i][0]) << i;
        EXPECT_EQ(q.bands[i].cplcomant, want[i][1]) << i;
    }
    EXPECT_EQ(q.bands[0].value, 0.96875);
    EXPECT_EQ(q.bands[2].value, 0.0);
    // 2^-25 is exact only with a master shift: mstrcplco 2 (mantissa 1 of
    // exponent 15) and 3 both reach it, and the smaller wins.
    EXPECT_EQ(quantize_coupling_coordinates(std::vector<double>{std::ldexp(1.0, -25)}).mstrcplco, 2);
}

TEST(CoupleBlock, OppositeBandGetsThePhaseFlagAndIsRebuiltExactly) {
    const CouplingPlan plan = plan_coupling(true, 192);
    const Coefficients left = test_signal(5);
    Coefficients right = left;
    for (uint32_t k = plan.bands[3].first_bin; k < plan.bands[3].end_bin; ++k) right[k] = -left[k];
    const CoupledBlock coupled = couple_block(left, right, plan);
    EXPECT_EQ(coupled.phsflg, (std::vector<uint8_t>{0, 0, 0, 1, 0, 0, 0, 0, 0}));
    for (int ch = 0; ch < 2; ++ch) {
        for (const CouplingCoordinate& q : coupled.coordinates[ch].bands) EXPECT_EQ(q.value, 0.5);
    }
    EXPECT_EQ(coupling_model_error(left, right, coupled.coefficients, coupled.coordinates, coupled.phsflg, plan), 0.0);

    EXPECT_EQ(error_of([&] { couple_block(left, right, CouplingPlan{}); }), "coupling requested with disabled plan");
    auto short_list = coupled.coordinates;
    short_list[1].bands.pop_back();
    EXPECT_EQ(error_of([&] {
                  coupling_model_error(left, right, coupled.coefficients, short_list, coupled.phsflg, plan);
              }),
              "invalid coupling model-error inputs");
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

TEST(CouplingAnalysis, TransientsUnrelatedChannelsOrADisabledPlanSwitchCouplingOff) {
    Blocks steady = stereo_frame(0.5);
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 192), steady, 192, true).in_use, 1);
    Blocks transient = stereo_frame(0.5);
    transient[4].blksw[1] = 1;
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 192), transient, 192, true).in_use, 0);
    Blocks unrelated = stereo_frame(0.0);  // left in even bins, right in odd bins
    for (BlockAnalysis& block : unrelated) {
        for (int k = 0; k < kBinsPerBlock; k += 2) std::swap(block.coefficients[0][k + 1], block.coefficients[1][k + 1]);
    }
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 160), unrelated, 160, true).in_use, 0);
    Blocks disabled = stereo_frame(1.0);
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(false, 192), disabled, 192, true).in_use, 0);
    EXPECT_EQ(disabled[0].coefficients[1][200], 0.0);  // still rematrixed to bin 252
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

TEST(CouplingExponents, EvenReferenceAndSlewLimit) {
    std::vector<uint8_t> exponents(256, 24);
    exponents[85] = 9;
    exponents[86] = 1;
    exponents[87] = 1;
    const ExponentSet set = coupling_exponent_set(exponents, 85, 88);
    EXPECT_EQ(set.absolute_exponent, 2);  // cplabsexp: reference exponent 4
    EXPECT_EQ(set.group_count, 1);
    EXPECT_EQ(set.group_codes[0], 27);  // differences -1, -2, 0
    EXPECT_EQ(std::vector<int>(set.exponents.begin() + 84, set.exponents.begin() + 88),
              (std::vector<int>{24, 3, 1, 1}));
    for (auto [start, end] : {std::pair<uint32_t, uint32_t>{85, 85}, {85, 87}, {250, 259}, {90, 85}}) {
        EXPECT_EQ(error_of([&] { coupling_exponent_set(exponents, start, end); }), "invalid coupling exponent range");
    }
}

}  // namespace
}  // namespace oskavi
