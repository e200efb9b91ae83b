#pragma once
// "--spectral-analysis": a look at the first blocks of the preprocessed
// 48 kHz buffer through the encoder's own analysis (gain range, long MDCT,
// raw exponents and a D15 exponent set per channel-block).

#include <cstdint>
#include <ostream>

#include "input/pcm_buffer.h"

namespace oskavi {

struct SpectralSummary {
    uint64_t channel_blocks = 0;
    double peak_coefficient = 0.0;
    int min_raw_exponent = 24;
    int max_raw_exponent = 0;
    int max_gainrng = 0;
};

// Analyses min(6, ceil(frames / 256)) blocks of every channel.
SpectralSummary analyse_spectrum(const PcmBuffer& pcm, bool dense_mdct);

void print_spectral_report(std::ostream& out, const SpectralSummary& summary);

}  // namespace oskavi
