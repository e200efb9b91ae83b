#pragma once
// Brings any accepted input to a layout AC-3 can carry (mono, stereo, 5.1)
// at 48 kHz: the 7.1 rear fold, the layout checks and the rate conversion.
// Channel positions are never guessed.

#include "dsp/preprocess_settings.h"
#include "input/pcm_buffer.h"

namespace oskavi {

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
