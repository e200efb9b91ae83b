#include "ac3/frame_planning.h"

#include <gtest/gtest.h>

#include "ac3/coupling.h"

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

// Coefficients of magnitude `level` and alternating sign in bins [first, end) of every block.
void fill_flat(Blocks& blocks, int channel, int first, int end, double level) {
    for (BlockAnalysis& block : blocks) {
        for (int k = first; k < end; ++k) block.coefficients[channel][k] = (k % 2 ? level : -level);
    }
}

TEST(FramePlanning, EnergiesSetFineOffsetsAndContentAndRateSetTheBandwidth) {
    EXPECT_EQ(bandwidth_cap(192, 2), 157u);  // 14760 Hz -> bin 158 -> grid 157
    EXPECT_EQ(bandwidth_cap(640, 1), 217u);  // clamps at 20500 Hz -> bin 219 -> grid 217

    Blocks line{};
    line[0].coefficients[0][5] = 1.0;
    line[0].coefficients[1][5] = 0.5;
    const FramePlan quiet = plan_frame(line, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(quiet.fsnroffst[0], 8);  // the loudest channel
    EXPECT_EQ(quiet.fsnroffst[1], 5);  // a quarter of its energy: 6 * sqrt(1/4) + 2
    EXPECT_EQ(quiet.endmant[0], 73u);  // occupied to bin 5, raised to the smallest bandwidth
    EXPECT_LT(quiet.flatness[0], 0.08);  // a single line is as tonal as it gets

    Blocks left_only{};
    fill_flat(left_only, 0, 0, 100, 1.0);  // 99.95 % of the energy below bin 99, plus margin -> 112
    const FramePlan mono = plan_frame(left_only, 640, 1, false, CouplingPlan{});
    EXPECT_EQ(mono.endmant[0], 112u);
    EXPECT_EQ(mono.chbwcod[0], 13);
    fill_flat(left_only, 0, 0, 253, 1.0);
    const FramePlan stereo = plan_frame(left_only, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(stereo.endmant[0], 217u);  // full spectrum, capped by the rate
    EXPECT_GT(stereo.flatness[0], 0.999);
    EXPECT_EQ(stereo.endmant[1], 73u);  // silent
    EXPECT_EQ(stereo.fsnroffst[1], 0);
}

TEST(FramePlanning, RematrixedBandsAreMeasuredAsSumAndDifferenceUnlessCoupled) {
    // As rematrixing leaves identical channels: left holds (L + R) / 2, right
    // 0; the right channel is really as loud and as wide as the left.
    Blocks blocks{};
    fill_flat(blocks, 0, 13, 200, 1.0);
    for (BlockAnalysis& block : blocks) block.rematflg = {1, 1, 1, 1};
    const FramePlan plan = plan_frame(blocks, 448, 2, false, CouplingPlan{});
    EXPECT_EQ(plan.fsnroffst[1], 8);
    EXPECT_EQ(plan.endmant[1], plan.endmant[0]);
    EXPECT_GT(plan.endmant[1], 200u);

    // Coupled, the stored channels are measured as they are and both end at
    // the coupling start.
    const FramePlan coupled = plan_frame(blocks, 192, 2, false, plan_coupling(true, 192));
    EXPECT_EQ(coupled.fsnroffst[1], 0);
    EXPECT_EQ(coupled.endmant[0], 97u);
    EXPECT_EQ(coupled.endmant[1], 97u);
    EXPECT_EQ(coupled.coupling.in_use, 1);
    EXPECT_EQ(coupled.coupling.cplendmant, 205u);
}

}  // namespace
}  // namespace oskavi
