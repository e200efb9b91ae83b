#pragma once
// Conversion of any supported input rate to the encoder's 48 kHz: a 63-tap
// half-band decimator for 96 and 192 kHz, and a 47-tap rational polyphase
// FIR for the 44.1 kHz family. Both filters are linear-phase windowed sincs
// centred on the output instant, so no delay is added.

#include <cstdint>
#include <vector>

#include "input/pcm_buffer.h"

namespace oskavi {

// Normalised (unity DC gain) Blackman-windowed sinc low-pass; odd tap count,
// cutoff in cycles per input sample. Throws "FIR tap count must be odd".
std::vector<double> design_lowpass_fir(uint32_t taps, double cutoff);

PcmBuffer halfband_decimate(const PcmBuffer& input);
PcmBuffer polyphase_resample(const PcmBuffer& input, uint32_t output_rate);

// Chooses the route by input rate; 48 kHz passes through untouched. Throws
// "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz" for other rates.
PcmBuffer resample_to_48k(PcmBuffer input);

}  // namespace oskavi
