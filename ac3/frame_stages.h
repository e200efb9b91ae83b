#pragma once
// The stages of one frame after its six blocks are analysed: coupling and
// rematrixing (stereo), bandwidth and SNR planning, exponent strategies, and
// the fit of the packed frame to the bit rate's frame size.

#include <array>
#include <cstdint>
#include <vector>

#include "ac3/encoder_settings.h"
#include "ac3/frame_records.h"

namespace oskavi {

// Stereo frames only: decides coupling, rematrixes the blocks and fills
// their coupling fields; returns the coupling plan in force (empty for mono
// and 5.1, whose blocks are left as they are).
CouplingPlan couple_and_rematrix(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                 const EncoderSettings& settings);

// Bandwidths, SNR offsets and exponent strategies of the frame; sets every
// block's exponent sets in force.
FramePlan plan_frame_exponents(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                               const CouplingPlan& coupling, uint32_t bitrate_kbps, bool exponent_adaptation,
                               const BandwidthSetting& bandwidth = {});

// The packed frame of six analysed blocks of a 1-, 2- or 6-channel source:
// the stages above, then the fit. A frame that does not fit even at
// csnroffst 0 with exponent adaptation is planned once more with every
// channel sending exponents in block 0 only; if that fails too with a full or
// fixed bandwidth, the frame is planned with the automatic one; otherwise
// FrameUnfittable propagates. `gains` are the frame's dynamic range words.
std::vector<uint8_t> encode_analysed_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                           const EncoderSettings& settings, const FrameGainWords& gains = {});

}  // namespace oskavi
