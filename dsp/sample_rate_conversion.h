#pragma once
// Conversion of any supported input rate to the encoder's 48 kHz: a 63-tap
// half-band decimator for 96 and 192 kHz, and a 47-tap rational polyphase
// FIR for the 44.1 kHz family. Both filters are linear-phase windowed sincs
// centred on the output instant, so no delay is added.
//
// The whole-file functions here and the streaming stages of
// dsp/streaming_resampler.h share the filter design and the per-output dot
// products below, so both produce bit-identical samples.

#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "input/pcm_buffer.h"

namespace oskavi {

inline constexpr uint32_t kHalfbandTaps = 63;
inline constexpr int64_t kHalfbandCentre = 31;
inline constexpr uint32_t kPolyphaseTaps = 47;
inline constexpr int64_t kPolyphaseCentre = 23;

// Normalised (unity DC gain) Blackman-windowed sinc low-pass; odd tap count,
// cutoff in cycles per input sample. Throws "FIR tap count must be odd".
std::vector<double> design_lowpass_fir(uint32_t taps, double cutoff);

// The half-band decimator's 63 taps (cutoff a quarter of the input rate),
// designed once.
const std::vector<double>& halfband_taps();

// Rational resampling by up/down (the rates divided by their gcd) with one
// normalised 47-tap filter per output phase.
struct PolyphaseBank {
    uint64_t up = 1;
    uint64_t down = 1;
    std::vector<std::vector<double>> phases;  // `up` arrays of kPolyphaseTaps
};

PolyphaseBank design_polyphase_bank(uint32_t input_rate, uint32_t output_rate);

// One half-band output sample: sum of h(k) * x(first + k), k ascending, in
// double from 0.0, rounded once to float. `x(i)` yields input frame i of the
// channel (0.0 outside the input). Near-zero taps of the half-band filter are
// skipped; they contribute nothing.
template <typename Input>
float halfband_dot(std::span<const double> taps, int64_t first, const Input& x) {
    double y = 0.0;
    for (size_t k = 0; k < taps.size(); ++k) {
        if (std::fabs(taps[k]) < 1e-18) continue;
        y += taps[k] * x(first + static_cast<int64_t>(k));
    }
    return static_cast<float>(y);
}

// One polyphase output sample with the same accumulation; no tap is skipped.
template <typename Input>
float polyphase_dot(std::span<const double> taps, int64_t first, const Input& x) {
    double y = 0.0;
    for (size_t k = 0; k < taps.size(); ++k) y += taps[k] * x(first + static_cast<int64_t>(k));
    return static_cast<float>(y);
}

// Rates the converter accepts: 44.1/48/88.2/96/176.4/192 kHz.
bool is_supported_input_rate(uint32_t sample_rate);

// `threads` filter the channels side by side; the samples are the same for any number.
PcmBuffer halfband_decimate(const PcmBuffer& input, uint32_t threads = 1);
PcmBuffer polyphase_resample(const PcmBuffer& input, uint32_t output_rate, uint32_t threads = 1);

// Chooses the route by input rate; 48 kHz passes through untouched. Throws
// "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz" for other rates.
PcmBuffer resample_to_48k(PcmBuffer input, uint32_t threads = 1);

}  // namespace oskavi
