#pragma once
// Brings any accepted input to a layout AC-3 can carry (mono, stereo, 5.1)
// at 48 kHz: the 7.1 rear fold, the layout checks and the rate conversion.
// Channel positions are never guessed.

#include <array>
#include <cstdint>
#include <span>

#include "dsp/preprocess_settings.h"
#include "input/pcm_buffer.h"

namespace oskavi {

// The layout AC-3 carries for a source layout: 7.1 folds to 5.1, every other
// layout is coded as it is.
ChannelLayout folded_layout(ChannelLayout source);
uint32_t folded_channels(ChannelLayout source, uint32_t source_channels);

// Linear gain of the back pair in the 7.1 rear fold.
float rear_fold_gain(const PreprocessSettings& options);

// One 7.1 frame (L, R, C, LFE, back L, back R, side L, side R) folded to 5.1
// (L, R, C, LFE, Ls, Rs): the front channels and the LFE as they are, each
// surround the back channel times `gain` plus the side channel.
inline std::array<float, 6> fold_frame_71(std::span<const float, 8> x, float gain) {
    return {x[0], x[1], x[2], x[3], gain * x[4] + x[6], gain * x[5] + x[7]};
}

// Channel positions are never guessed: three or more channels of unknown
// layout are refused.
void check_unambiguous_layout(uint32_t channels, ChannelLayout layout);

// 7.1 (L, R, C, LFE, back L, back R, side L, side R) to 5.1: the back pair is
// scaled by the rear-fold gain and added to the side pair, with an optional
// peak guard on the two surround outputs.
PcmBuffer fold_71_to_51(const PcmBuffer& input, const PreprocessSettings& options);

// The whole-file chain: fold, layout checks, rate conversion.
PcmBuffer preprocess_to_48k(PcmBuffer input, const PreprocessSettings& options);

// True when preprocess_to_48k refuses every buffer with this header, whatever
// its samples: too many channels, an ambiguous layout or an unsupported rate.
bool refuses_from_header(uint32_t sample_rate, uint32_t channels, ChannelLayout layout);

}  // namespace oskavi
