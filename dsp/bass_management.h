#pragma once
// Low-frequency shaping of a 48 kHz 5.1 buffer: LFE generation from the five
// main channels, LR4 bass management (the same low band to the LFE, the mains
// high-passed at the crossover) and the 120 Hz low-pass every 5.1 LFE gets.

#include "app/options.h"
#include "input/pcm_buffer.h"

namespace oskavi {

// Transposed direct form II section; coefficients normalised by a0.
struct Biquad {
    double b0 = 1.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0;
    double z1 = 0.0, z2 = 0.0;

    double process(double x) {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

Biquad lowpass_section(double frequency_hz, double alpha_divisor);
Biquad highpass_section(double frequency_hz, double alpha_divisor);

// bass_mode None returns the buffer unchanged; the other modes check their
// settings first and leave the buffer untouched when a check fails.
PcmBuffer apply_bass_processing(PcmBuffer pcm, const PreprocessOptions& options);

// 8th-order Butterworth low-pass at 120 Hz on the LFE of a 6-channel 5.1
// buffer; any other buffer is left as it is.
void lowpass_lfe_120hz(PcmBuffer& pcm);

}  // namespace oskavi
