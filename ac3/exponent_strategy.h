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

// One exponent run costed: the strategy of the set it would send and its
// bits (mantissas of every block of the run plus the exponents). Empty: cost
// 4294967295.
struct ExponentCandidate {
    uint8_t strategy = kExpD15;
    uint32_t cost = UINT32_MAX;
};

// Cheapest strategy for channel `channel` sending one set in block `first`
// and reusing it up to block `end` (exclusive). Short blocks force D45, a
// tonal channel (flatness below 0.08) D15, a fairly tonal one D15 or D25.
ExponentCandidate segment_cost(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, int first,
                               int end, const FramePlan& plan);

// Fills plan.chexpstr and every block's exponent sets in force for the
// full-bandwidth channels, the coupling channel (when coupled) and the LFE.
void plan_exponent_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, FramePlan& plan, int nfbw, bool lfe,
                         bool exponent_adaptation, uint32_t bitrate_kbps);

}  // namespace oskavi
