#pragma once
// A/52 stereo rematrixing over the four rematrix bands. A band is sent as
// sum/difference ((L + R) / 2, (L - R) / 2) when that is cheaper than
// left/right; the decoder restores L = L' + R', R = L' - R'.

#include <array>
#include <cstdint>
#include <span>

#include "ac3/frame_records.h"

namespace oskavi {

// Upper bin of the last rematrix band when the frame does not couple.
inline constexpr uint32_t kRematrixUpperBin = kMaxCodedBins;

struct RematrixBand {
    uint32_t first;
    uint32_t end;  // exclusive, before clipping to the upper bin
};

// The bands as the rematflg bits index them. Band 3 nominally runs to the
// last coded bin; coupling cuts it short.
inline constexpr std::array<RematrixBand, 4> kRematrixBands{{{13, 25}, {25, 37}, {37, 61}, {61, kRematrixUpperBin}}};

// Rematrixes channels 0 and 1 of every block of a two-channel frame: stores
// each block's flags and refreshes both channels' raw exponents from the
// rewritten coefficients. The raw exponents must be those of the
// coefficients as they come in: a block with no band rewritten keeps them.
void rematrix_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin);

// rematrix_frame summing each block's band energies one block at a time:
// the reference for the kernel that sums four blocks side by side.
void rematrix_frame_plain(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin);

}  // namespace oskavi
