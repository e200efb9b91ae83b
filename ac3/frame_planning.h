#pragma once
// The bandwidth stage of a frame: each full-bandwidth channel's coded range
// (endmant, chbwcod) and tonality, the fine SNR offsets that weight
// the channels by energy, and the frame's coupling fields.

#include <array>
#include <cstdint>
#include <span>

#include "ac3/frame_records.h"
#include "ac3/stream_metadata.h"

namespace oskavi {

// Highest endmant the bit rate affords per full-bandwidth channel, on the
// grid 73 + 3 * chbwcod.
uint32_t bandwidth_cap(uint32_t bitrate_kbps, int nfbw);

// fsnroffst of one channel from its energy total and the largest total of
// the frame: 8 for the loudest channel, 0 for a silent one.
uint8_t fine_snr_offset(double channel_energy, double max_energy);

// Spectral flatness of a channel's energy per bin over the frame (`total`
// their sum, above silence): the geometric mean of energy + epsilon over the
// arithmetic mean + epsilon, epsilon = mean * 1e-12 + 1e-30, the logarithms
// summed in bin order; clamped to 0 (tonal) .. 1 (flat).
double spectral_flatness(std::span<const double, kMaxCodedBins> energy, double total);
// The Tonality of that flatness. Only a flatness near 0.08 or 0.25 is
// computed exactly; elsewhere an estimate with one logarithm decides.
Tonality spectral_tonality(std::span<const double, kMaxCodedBins> energy, double total);

// Builds the frame's FramePlan from the analysed blocks; the strategy table
// is left all reuse for plan_exponent_reuse. `bandwidth` picks the upper edge
// of the uncoupled channels: where the energy ends (capped by the bit rate),
// the cap itself, or a fixed edge. Throws "invalid AC-3 FBW endmant" if a
// bandwidth leaves the chbwcod grid.
FramePlan plan_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t bitrate_kbps, int nfbw,
                     bool lfe, const CouplingPlan& coupling, const BandwidthSetting& bandwidth = {});

}  // namespace oskavi
