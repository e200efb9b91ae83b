#pragma once
// Makes a packed frame fit the fixed frame size of its bit rate by searching
// the coarse SNR offset (csnroffst) shared by all channels of the frame.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "ac3/frame_records.h"

namespace oskavi {

struct FrameFitInput {
    const std::array<BlockAnalysis, kBlocksPerFrame>& blocks;
    const FramePlan& plan;
    uint32_t bitrate_kbps;
    int32_t dialnorm_db;
    uint32_t channels;
};

// Packs the frame at csnroffst. With `output` the full pack runs and its bytes
// land there on success; without it the size-only pass answers, unless full
// pack probes were requested through OSKAVI_FULL_PACK_PROBES.
bool probe_fit(const FrameFitInput& input, uint8_t csnroffst, std::vector<uint8_t>* output,
               bool full_pack_probes);

// The frame packed at the largest csnroffst that fits. Throws "unable to fit
// AC-3 frame even at zero SNR allocation" when even 0 is too large.
std::vector<uint8_t> fit_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const FramePlan& plan,
                               uint32_t bitrate_kbps, int32_t dialnorm_db, uint32_t channels);

}  // namespace oskavi
