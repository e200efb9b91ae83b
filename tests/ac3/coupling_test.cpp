// When the coupling coordinates of a frame's blocks are sent again. Where
// coupling is used at all is checked on the encoder's streams
// (FrameEncoder.CouplingIsUsedOnlyWhereTheRateAllowsIt).

#include "ac3/coupling.h"

#include <gtest/gtest.h>

namespace oskavi {
namespace {

using Blocks = std::array<BlockAnalysis, kBlocksPerFrame>;

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
