#pragma once
// Exponent strategies of a frame: which blocks of each full-bandwidth channel
// send new exponents (D15, D25 or D45) and which reuse the previous block's,
// with the A/52 bit allocation as the cost model; plus the exponent sets of
// the coupling channel and the LFE.

#include <array>
#include <cstdint>

#include "ac3/exponent_set.h"
#include "ac3/frame_records.h"

namespace oskavi {

// Fills plan.chexpstr and every block's exponent sets in force for the
// full-bandwidth channels, the coupling channel (when coupled) and the LFE.
// A run of blocks sharing one set is costed as the A/52 allocation's mantissa
// bits of its blocks plus its exponent bits, for each strategy tried: short
// blocks force D45, a tonal channel (flatness below 0.08) D15, a fairly tonal
// one D15 or D25.
void plan_exponent_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, FramePlan& plan, int nfbw, bool lfe,
                         bool exponent_adaptation, uint32_t bitrate_kbps);

}  // namespace oskavi
