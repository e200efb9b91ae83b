#pragma once
// The bandwidth stage of a frame: each full-bandwidth channel's coded range
// (endmant, chbwcod) and spectral flatness, the fine SNR offsets that weight
// the channels by energy, and the frame's coupling fields.

#include <array>
#include <cstdint>

#include "ac3/frame_records.h"
#include "ac3/stream_metadata.h"

namespace oskavi {

// Highest endmant the bit rate affords per full-bandwidth channel, on the
// grid 73 + 3 * chbwcod.
uint32_t bandwidth_cap(uint32_t bitrate_kbps, int nfbw);

// fsnroffst of one channel from its energy total and the largest total of
// the frame: 8 for the loudest channel, 0 for a silent one.
uint8_t fine_snr_offset(double channel_energy, double max_energy);

// Builds the frame's FramePlan from the analysed blocks; the strategy table
// is left all reuse for plan_exponent_reuse. `bandwidth` picks the upper edge
// of the uncoupled channels: where the energy ends (capped by the bit rate),
// the cap itself, or a fixed edge. Throws "invalid AC-3 FBW endmant" if a
// bandwidth leaves the chbwcod grid.
FramePlan plan_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t bitrate_kbps, int nfbw,
                     bool lfe, const CouplingPlan& coupling, const BandwidthSetting& bandwidth = {});

}  // namespace oskavi
