#include "ac3/frame_planning.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>

#include "ac3/coupling.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

// Coefficients of magnitude `level` and alternating sign in bins [first, end)
// of every block.
void fill_flat(Blocks& blocks, int channel, int first, int end, double level) {
    for (BlockAnalysis& block : blocks) {
        for (int k = first; k < end; ++k) block.coefficients[channel][k] = (k % 2 ? level : -level);
    }
}

TEST(Bandwidth, RateCapFollowsBitsPerChannel) {
    EXPECT_EQ(bandwidth_cap(192, 2), 157u);  // 14760 Hz -> bin 158 -> grid 157
    EXPECT_EQ(bandwidth_cap(640, 1), 217u);  // clamps at 20500 Hz -> bin 219 -> grid 217
    EXPECT_EQ(bandwidth_cap(32, 1), 94u);    // clamps at 9000 Hz -> bin 96 -> grid 94
    EXPECT_EQ(bandwidth_cap(448, 5), 148u);  // 41.6 kbit/s over 48: 13992 Hz -> bin 150 -> grid 148
}

TEST(FineSnrOffsets, FollowTheSquareRootOfTheEnergyRatio) {
    EXPECT_EQ(fine_snr_offset(1.0, 1.0), 8);
    EXPECT_EQ(fine_snr_offset(0.25, 1.0), 5);
    EXPECT_EQ(fine_snr_offset(0.5625, 1.0), 7);  // 6.5 rounds away from zero
    EXPECT_EQ(fine_snr_offset(0.0, 1.0), 0);
    EXPECT_EQ(fine_snr_offset(1e-25, 1.0), 0);
    EXPECT_EQ(fine_snr_offset(1e-20, 1e-20), 8);
}

TEST(PlanFrame, StereoEnergiesSetFineOffsetsAndSilenceKeepsTheMinimumBandwidth) {
    Blocks blocks{};
    blocks[0].coefficients[0][5] = 1.0;
    blocks[0].coefficients[1][5] = 0.5;
    const FramePlan plan = plan_frame(blocks, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(plan.fsnroffst[0], 8);
    EXPECT_EQ(plan.fsnroffst[1], 5);
    EXPECT_EQ(plan.endmant[0], 73u);  // occupied to bin 5 + 13, raised to chbwcod 0
    EXPECT_EQ(plan.chbwcod[0], 0);
    EXPECT_LT(plan.flatness[0], 0.08);  // a single line is as tonal as it gets

    Blocks silent_right{};
    fill_flat(silent_right, 0, 0, 253, 1.0);
    const FramePlan loud_and_silent = plan_frame(silent_right, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(loud_and_silent.endmant[0], 217u);  // full spectrum, capped by the rate
    EXPECT_EQ(loud_and_silent.chbwcod[0], 48);
    EXPECT_GT(loud_and_silent.flatness[0], 0.999);
    EXPECT_EQ(loud_and_silent.fsnroffst[0], 8);
    EXPECT_EQ(loud_and_silent.endmant[1], 73u);
    EXPECT_EQ(loud_and_silent.chbwcod[1], 0);
    EXPECT_EQ(loud_and_silent.flatness[1], 0.0);
    EXPECT_EQ(loud_and_silent.fsnroffst[1], 0);
    EXPECT_EQ(loud_and_silent.cplinu, 0);
    EXPECT_EQ(loud_and_silent.cplfsnroffst, 4);
}

TEST(PlanFrame, OccupiedEndAddsMarginOnTheGrid) {
    Blocks blocks{};
    fill_flat(blocks, 0, 0, 100, 1.0);  // 99.95 % reached at bin 99 -> 112
    const FramePlan plan = plan_frame(blocks, 640, 1, false, CouplingPlan{});
    EXPECT_EQ(plan.endmant[0], 112u);
    EXPECT_EQ(plan.chbwcod[0], 13);

    // The same content at a low rate is cut to the cap.
    const FramePlan capped = plan_frame(blocks, 32, 1, false, CouplingPlan{});
    EXPECT_EQ(capped.endmant[0], 94u);
    EXPECT_EQ(capped.chbwcod[0], 7);
}

TEST(PlanFrame, RematrixedBandsAreMeasuredAsSumAndDifference) {
    // As rematrixing leaves identical channels: left holds (L + R) / 2,
    // right holds 0; the right channel is really as loud as the left.
    Blocks blocks{};
    fill_flat(blocks, 0, 13, 200, 1.0);
    for (BlockAnalysis& block : blocks) block.rematflg = {1, 1, 1, 1};
    const FramePlan plan = plan_frame(blocks, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(plan.fsnroffst[1], 8);
    EXPECT_EQ(plan.endmant[1], plan.endmant[0]);
    EXPECT_GT(plan.endmant[1], 200u);

    // With coupling in use the stored channels are measured as they are,
    // and both end at the coupling start.
    const CouplingPlan coupling = plan_coupling(true, 192);
    const FramePlan coupled = plan_frame(blocks, 192, 2, false, coupling);
    EXPECT_EQ(coupled.fsnroffst[0], 8);
    EXPECT_EQ(coupled.fsnroffst[1], 0);
    EXPECT_EQ(coupled.endmant[0], 97u);
    EXPECT_EQ(coupled.endmant[1], 97u);
    EXPECT_EQ(coupled.chbwcod[0], 0);
    EXPECT_EQ(coupled.cplinu, 1);
    EXPECT_EQ(coupled.cplbegf, 5);
    EXPECT_EQ(coupled.cplendf, 11);
    EXPECT_EQ(coupled.cplstrtmant, 97u);
    EXPECT_EQ(coupled.cplendmant, 205u);
    ASSERT_EQ(coupled.coupling_bands.size(), 9u);
    EXPECT_EQ(coupled.coupling_bands[8].end_bin, 205u);
}

TEST(PlanFrame, LfeOffsetDependsOnItsCodedBins) {
    Blocks blocks{};
    for (int c = 0; c < 5; ++c) fill_flat(blocks, c, 0, 50, 0.5);
    for (BlockAnalysis& block : blocks) {
        block.lfe_present = true;
        block.lfe_coefficients[20] = 1.0;  // above the seven coded bins
    }
    const FramePlan quiet_lfe = plan_frame(blocks, 448, 5, true, CouplingPlan{});
    EXPECT_EQ(quiet_lfe.fsnroffst[5], 0);
    for (int c = 0; c < 5; ++c) EXPECT_EQ(quiet_lfe.fsnroffst[c], 8);

    blocks[3].lfe_coefficients[6] = 1e-3;
    EXPECT_EQ(plan_frame(blocks, 448, 5, true, CouplingPlan{}).fsnroffst[5], 4);
}

}  // namespace
}  // namespace oskavi
