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

// The packed frame of six analysed blocks of a 1-, 2- or 6-channel source.
// A frame that does not fit even at csnroffst 0 with exponent adaptation is
// planned once more with every channel sending exponents in block 0 only;
// if that fails too, FrameUnfittable propagates.
std::vector<uint8_t> encode_analysed_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                           const EncoderSettings& settings);

}  // namespace oskavi
