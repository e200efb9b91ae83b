#pragma once
// Conversion of WAVE sample bytes (little-endian) to 32-bit floats, shared by
// the whole-file and the streaming readers.

#include <cstdint>
#include <span>

namespace oskavi {

enum class SampleEncoding : uint8_t { Pcm16, Pcm24, Pcm32, Float32 };

// Encoding of a validated format: code 3 is IEEE float (32-bit), code 1 PCM
// of 16, 24 or 32 bits.
SampleEncoding sample_encoding(uint16_t format_code, uint16_t bits_per_sample);

uint32_t bytes_per_sample(SampleEncoding encoding);

// Converts bytes.size() / bytes_per_sample samples into `out` (same count).
// Integer PCM is scaled by 2^-(bits-1) in double and rounded once to float,
// never clamped; float samples are clamped to -1.0..1.0 and NaN reads as 0.0.
// Returns the number of NaN samples read as 0.0.
uint64_t convert_samples(SampleEncoding encoding, std::span<const uint8_t> bytes, std::span<float> out);

}  // namespace oskavi
