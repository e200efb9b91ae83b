#pragma once
// Makes a packed frame fit the fixed frame size of its bit rate by searching
// the coarse SNR offset (csnroffst) shared by all channels of the frame.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ac3/frame_records.h"

namespace oskavi {

class FrameAllocation;

struct FrameFitInput {
    const std::array<BlockAnalysis, kBlocksPerFrame>& blocks;
    const FramePlan& plan;
    uint32_t bitrate_kbps;
    int32_t dialnorm_db;
    uint32_t channels;
    // The frame's allocation shared by all probes of one search; null makes
    // every probe start from scratch (same answers, more work).
    FrameAllocation* allocation = nullptr;
};

// Packs the frame at csnroffst. With `output` its bytes land there when the
// frame fits: the size-only pass decides, and the full pack runs only for a
// frame that fits (both count the same bits). Without `output` the size-only
// pass answers. Full pack probes (OSKAVI_FULL_PACK_PROBES) run the full pack
// every time and read its size overflow as "does not fit".
bool probe_fit(const FrameFitInput& input, uint8_t csnroffst, std::vector<uint8_t>* output,
               bool full_pack_probes);

// The frame packed at the largest csnroffst that fits. Throws "unable to fit
// AC-3 frame even at zero SNR allocation" when even 0 is too large.
std::vector<uint8_t> fit_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const FramePlan& plan,
                               uint32_t bitrate_kbps, int32_t dialnorm_db, uint32_t channels,
                               bool full_pack_probes);

}  // namespace oskavi
