#pragma once
// Deterministic music-like test material for the demo, the benchmarks and the
// tests: tones with slow vibrato and tremolo, a noise floor and decaying
// percussive bursts, written as 16-bit or float WAV files.

#include <cstdint>
#include <string>
#include <vector>

namespace oskavi::tools {

struct SignalShape {
    uint32_t sample_rate = 48000;
    uint32_t channels = 2;
    double seconds = 5.0;
    // How much of every channel is shared with the others: 1.0 gives identical
    // channels, 0.0 independent ones.
    double correlation = 0.6;
    bool transients = true;
    uint32_t seed = 1;
};

// Interleaved float samples in -1..1.
std::vector<float> make_test_signal(const SignalShape& shape);

// Writes a canonical RIFF/WAVE file: 16-bit PCM (bits 16), 24-bit PCM
// (bits 24) or 32-bit float (bits 32). Mask 0 = plain PCM header.
void write_wav(const std::string& path, const std::vector<float>& samples, uint32_t sample_rate, uint32_t channels,
               uint32_t bits);

}  // namespace oskavi::tools
