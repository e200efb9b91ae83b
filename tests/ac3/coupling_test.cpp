#include "ac3/coupling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <utility>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ac3/exponents.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

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

// Stereo frame whose right channel is `right_gain` times the left.
Blocks stereo_frame(double right_gain) {
    Blocks blocks{};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        blocks[b].coefficients[0] = test_signal(40 + b);
        for (int k = 0; k < kBinsPerBlock; ++k) blocks[b].coefficients[1][k] = right_gain * blocks[b].coefficients[0][k];
        for (int c = 0; c < 2; ++c) blocks[b].raw_exponents[c] = raw_exponents(blocks[b].coefficients[c]);
    }
    return blocks;
}

template <typename F>
std::string error_of(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST(CouplingPlan, BitRateChoosesTheCouplingRange) {
    struct Case {
        uint32_t kbps;
        uint32_t start;
        uint8_t begf;
    };
    for (const Case& c : {Case{128, 85, 4}, Case{160, 85, 4}, Case{192, 97, 5}, Case{224, 97, 5}, Case{256, 109, 6}}) {
        const CouplingPlan plan = plan_coupling(true, c.kbps);
        ASSERT_EQ(plan.in_use, 1) << c.kbps;
        EXPECT_EQ(plan.cplstrtmant, c.start);
        EXPECT_EQ(plan.cplbegf, c.begf);
        EXPECT_EQ(plan.cplendf, c.begf + 6);
        EXPECT_EQ(plan.cplendmant, c.start + 108);
        ASSERT_EQ(plan.bands.size(), 9u);
        for (size_t i = 0; i < 9; ++i) {
            EXPECT_EQ(plan.bands[i].first_bin, c.start + 12 * i);
            EXPECT_EQ(plan.bands[i].end_bin, c.start + 12 * (i + 1));
        }
    }
    for (uint32_t kbps : {32u, 112u, 320u, 448u, 640u}) EXPECT_EQ(plan_coupling(true, kbps).in_use, 0) << kbps;
    const CouplingPlan off = plan_coupling(false, 192);
    EXPECT_EQ(off.in_use, 0);
    EXPECT_TRUE(off.bands.empty());
}

TEST(CouplingCoordinates, QuantisationPicksExactAndLargestValues) {
    const std::vector<double> full(9, 0.96875);
    const ChannelCouplingCoordinates top = quantize_coupling_coordinates(full);
    EXPECT_EQ(top.mstrcplco, 0);
    ASSERT_EQ(top.bands.size(), 9u);
    for (const CouplingCoordinate& q : top.bands) {
        EXPECT_EQ(q.cplcoexp, 0);
        EXPECT_EQ(q.cplcomant, 15);
        EXPECT_EQ(q.value, 0.96875);
    }

    // Values beyond the A/52 range clamp to 31/32; zero is k 0 with exponent 15.
    const ChannelCouplingCoordinates mixed = quantize_coupling_coordinates(std::vector<double>{2.0, 0.0, 0.5});
    EXPECT_EQ(mixed.bands[0].cplcoexp, 0);
    EXPECT_EQ(mixed.bands[0].cplcomant, 15);
    EXPECT_EQ(mixed.bands[1].cplcoexp, 15);
    EXPECT_EQ(mixed.bands[1].cplcomant, 0);
    EXPECT_EQ(mixed.bands[1].value, 0.0);
    EXPECT_EQ(mixed.bands[2].cplcoexp, 0);
    EXPECT_EQ(mixed.bands[2].cplcomant, 0);
    EXPECT_EQ(mixed.bands[2].value, 0.5);
    EXPECT_EQ(mixed.new_coordinates, 1);

    // 2^-25 is exact only with a master shift: mstrcplco 2 (k 1 of exponent
    // 15) and 3 both reach it, and the smaller wins the tie.
    const ChannelCouplingCoordinates tiny = quantize_coupling_coordinates(std::vector<double>{std::ldexp(1.0, -25)});
    EXPECT_EQ(tiny.mstrcplco, 2);
    EXPECT_EQ(tiny.bands[0].cplcoexp, 15);
    EXPECT_EQ(tiny.bands[0].cplcomant, 1);
    EXPECT_EQ(tiny.bands[0].value, std::ldexp(1.0, -25));

    // A zero coordinate stays exactly zero whatever master shift the others need.
    const ChannelCouplingCoordinates with_zero =
        quantize_coupling_coordinates(std::vector<double>{std::ldexp(1.0, -25), 0.0});
    EXPECT_EQ(with_zero.bands[1].cplcoexp, 15);
    EXPECT_EQ(with_zero.bands[1].cplcomant, 0);
}

TEST(CoupleBlock, OppositeBandGetsPhaseFlagAndDifferenceChannel) {
    const CouplingPlan plan = plan_coupling(true, 192);
    const Coefficients left = test_signal(5);
    Coefficients right = left;
    const CouplingBand inverted = plan.bands[3];
    for (uint32_t k = inverted.first_bin; k < inverted.end_bin; ++k) right[k] = -left[k];

    const CoupledBlock coupled = couple_block(left, right, plan);
    ASSERT_EQ(coupled.phsflg.size(), 9u);
    for (size_t i = 0; i < 9; ++i) EXPECT_EQ(coupled.phsflg[i], i == 3 ? 1 : 0) << i;
    for (int k = 0; k < kBinsPerBlock; ++k) {
        double expected = 0.0;
        if (k >= 97 && k < 205) expected = (left[k] + (k >= 133 && k < 145 ? -right[k] : right[k])) * 0.125;
        EXPECT_EQ(coupled.coefficients[k], expected) << k;
    }
    EXPECT_EQ(coupled.coefficients[140], (left[140] - right[140]) / 8.0);
    // Equal magnitudes: both coordinates are 1/2, and the rebuild is exact.
    for (int ch = 0; ch < 2; ++ch) {
        for (const CouplingCoordinate& q : coupled.coordinates[ch].bands) EXPECT_EQ(q.value, 0.5);
    }
    EXPECT_EQ(coupling_model_error(left, right, coupled.coefficients, coupled.coordinates, coupled.phsflg, plan), 0.0);
}

TEST(CoupleBlock, ModelErrorMeasuresTheClampedCoordinate) {
    // Right silent: left's coordinate would be 1.0 but is sent as 31/32, so
    // every bin is rebuilt at 31/32 of its value.
    const CouplingPlan plan = plan_coupling(true, 128);
    const Coefficients left = test_signal(9);
    const Coefficients right{};
    const CoupledBlock coupled = couple_block(left, right, plan);
    for (const CouplingCoordinate& q : coupled.coordinates[0].bands) EXPECT_EQ(q.value, 0.96875);
    for (const CouplingCoordinate& q : coupled.coordinates[1].bands) EXPECT_EQ(q.value, 0.0);
    const double error =
        coupling_model_error(left, right, coupled.coefficients, coupled.coordinates, coupled.phsflg, plan);
    EXPECT_NEAR(error, 0.03125 * 0.03125, 1e-15);

    EXPECT_EQ(coupling_model_error(right, right, right, coupled.coordinates, coupled.phsflg, plan), 0.0);
    EXPECT_EQ(error_of([&] { couple_block(left, right, CouplingPlan{}); }), "coupling requested with disabled plan");
    EXPECT_EQ(error_of([&] {
                  coupling_model_error(left, right, coupled.coefficients, coupled.coordinates, coupled.phsflg,
                                       CouplingPlan{});
              }),
              "invalid coupling model-error inputs");
    auto short_list = coupled.coordinates;
    short_list[1].bands.pop_back();
    EXPECT_EQ(error_of([&] {
                  coupling_model_error(left, right, coupled.coefficients, short_list, coupled.phsflg, plan);
              }),
              "invalid coupling model-error inputs");
}

TEST(CouplingAnalysis, MonoInStereoCouplesAt192ButNotAt256) {
    Blocks at256 = stereo_frame(1.0);
    const CouplingPlan off = analyze_coupling_and_rematrix(plan_coupling(true, 256), at256, 256, true);
    EXPECT_EQ(off.in_use, 0);
    for (const BlockAnalysis& block : at256) {
        EXPECT_EQ(block.rematflg, (std::array<uint8_t, 4>{1, 1, 1, 1}));
        EXPECT_EQ(block.coefficients[1][200], 0.0);  // rematrixed up to bin 252
        EXPECT_EQ(block.raw_exponents[1][200], 24);
    }

    Blocks at192 = stereo_frame(1.0);
    const Blocks original = at192;
    const CouplingPlan on = analyze_coupling_and_rematrix(plan_coupling(true, 192), at192, 192, true);
    ASSERT_EQ(on.in_use, 1);
    EXPECT_EQ(on.cplstrtmant, 97u);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        const BlockAnalysis& block = at192[b];
        EXPECT_EQ(block.rematflg, (std::array<uint8_t, 4>{1, 1, 1, 1}));
        EXPECT_EQ(block.coefficients[1][96], 0.0);                              // last rematrixed bin
        EXPECT_EQ(block.coefficients[1][97], original[b].coefficients[1][97]);  // coupling range untouched
        EXPECT_EQ(block.cpl_coefficients[96], 0.0);
        EXPECT_EQ(block.cpl_coefficients[150], original[b].coefficients[0][150] * 0.25);
        EXPECT_EQ(block.cpl_raw_exponents, raw_exponents(block.cpl_coefficients));
        ASSERT_EQ(block.phsflg.size(), 9u);
        for (int ch = 0; ch < 2; ++ch) {
            EXPECT_EQ(block.coupling[ch].mstrcplco, 0);
            for (const CouplingCoordinate& q : block.coupling[ch].bands) EXPECT_EQ(q.value, 0.5);
            // Unchanged coordinates are sent once, in block 0.
            EXPECT_EQ(block.coupling[ch].new_coordinates, b == 0 ? 1 : 0) << b;
        }
    }

    Blocks no_reuse = stereo_frame(1.0);
    analyze_coupling_and_rematrix(plan_coupling(true, 192), no_reuse, 192, false);
    for (const BlockAnalysis& block : no_reuse) {
        EXPECT_EQ(block.coupling[0].new_coordinates, 1);
        EXPECT_EQ(block.coupling[1].new_coordinates, 1);
    }
}

TEST(CouplingAnalysis, TransientsUnrelatedChannelsOrDisabledPlanSwitchCouplingOff) {
    Blocks transient = stereo_frame(0.5);
    transient[4].blksw[1] = 1;
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 192), transient, 192, true).in_use, 0);

    Blocks steady = stereo_frame(0.5);
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 192), steady, 192, true).in_use, 1);

    // Left in even bins, right in odd bins: no correlation.
    Blocks unrelated = stereo_frame(0.0);
    for (BlockAnalysis& block : unrelated) {
        for (int k = 0; k < kBinsPerBlock; k += 2) std::swap(block.coefficients[0][k + 1], block.coefficients[1][k + 1]);
    }
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(true, 160), unrelated, 160, true).in_use, 0);

    Blocks disabled = stereo_frame(1.0);
    EXPECT_EQ(analyze_coupling_and_rematrix(plan_coupling(false, 192), disabled, 192, true).in_use, 0);
    EXPECT_EQ(disabled[0].coefficients[1][200], 0.0);  // still rematrixed to bin 252
    EXPECT_TRUE(disabled[0].phsflg.empty());
}

TEST(CouplingAnalysis, ReuseFlagsFollowCoordinateAndPhaseChanges) {
    Blocks blocks{};
    ChannelCouplingCoordinates coords;
    coords.bands.assign(9, CouplingCoordinate{1, 2, 0.3});
    for (BlockAnalysis& block : blocks) {
        block.coupling = {coords, coords};
        block.phsflg.assign(9, 0);
    }
    blocks[2].phsflg[4] = 1;                  // phase change only
    blocks[3].phsflg[4] = 1;                  // same as block 2
    blocks[4].phsflg[4] = 1;
    blocks[4].coupling[0].bands[0].cplcomant = 3;  // left changes
    blocks[5].phsflg[4] = 1;
    blocks[5].coupling[0].bands[0].cplcomant = 3;
    blocks[5].coupling[1].mstrcplco = 1;           // right changes
    mark_coordinate_reuse(blocks);
    const std::array<std::array<int, 2>, kBlocksPerFrame> expected{{{1, 1}, {0, 0}, {0, 1}, {0, 0}, {1, 0}, {0, 1}}};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        EXPECT_EQ(blocks[b].coupling[0].new_coordinates, expected[b][0]) << b;
        EXPECT_EQ(blocks[b].coupling[1].new_coordinates, expected[b][1]) << b;
    }
}

TEST(CouplingExponents, EvenReferenceAndSlewLimit) {
    std::vector<uint8_t> exponents(256, 24);
    exponents[85] = 9;
    exponents[86] = 1;
    exponents[87] = 1;
    const ExponentSet set = coupling_exponent_set(exponents, 85, 88);
    EXPECT_EQ(set.strategy, kExpD15);
    EXPECT_EQ(set.absolute_exponent, 2);  // reference 4
    EXPECT_EQ(set.bin_count, 88);
    EXPECT_EQ(set.group_count, 1);
    EXPECT_EQ(set.group_codes[0], 27);  // differences -1, -2, 0
    EXPECT_EQ(set.exponents[84], 24);
    EXPECT_EQ(set.exponents[85], 3);
    EXPECT_EQ(set.exponents[86], 1);
    EXPECT_EQ(set.exponents[87], 1);

    // A full 108-bin range: 36 groups, decoded values within 2 of each other.
    std::vector<uint8_t> wide(256, 24);
    for (int k = 97; k < 205; ++k) wide[k] = static_cast<uint8_t>(k % 7 == 3 ? 3 : 17);
    const ExponentSet full = coupling_exponent_set(wide, 97, 205);
    EXPECT_EQ(full.group_count, 36);
    // The 3 at bin 101 pulls bins 97..100 down to 11, 9, 7, 5 and the
    // reference from 16 to 13, which must become even: 12.
    EXPECT_EQ(full.absolute_exponent, 6);
    EXPECT_EQ(full.exponents[97], 11);
    int previous = 2 * full.absolute_exponent;
    for (int k = 97; k < 205; ++k) {
        EXPECT_LE(full.exponents[k], wide[k]);
        EXPECT_LE(std::abs(full.exponents[k] - previous), 2) << k;
        previous = full.exponents[k];
    }

    const std::array<std::pair<uint32_t, uint32_t>, 4> bad{{{85, 85}, {85, 87}, {250, 259}, {90, 85}}};
    for (const auto& range : bad) {
        EXPECT_EQ(error_of([&] { coupling_exponent_set(exponents, range.first, range.second); }),
                  "invalid coupling exponent range");
    }
}

}  // namespace
}  // namespace oskavi
