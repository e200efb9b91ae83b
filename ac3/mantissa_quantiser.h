#pragma once
// A/52 mantissa quantisation of transform coefficients and the mantissa
// payload of one audio block, with bap 1, 2 and 4 codes grouped.

#include <cstdint>
#include <span>

#include "bitstream/bit_writer.h"

namespace oskavi {

// One channel of one block: coefficients, the exponents a decoder will
// reconstruct for them and their baps, all three of equal length and
// covering the same bins.
struct ChannelMantissas {
    std::span<const double> coefficients;
    std::span<const uint8_t> exponents;
    std::span<const uint8_t> baps;
};

// Code of one coefficient: value * 2^exponent is the normalised mantissa in
// [-1, 1). bap 1..5 use the symmetric quantisers, bap 6..15 the two's
// complement ones (the code is the w-bit pattern). Throws "invalid bap".
uint32_t quantise_mantissa(double value, int exponent, uint8_t bap);

// Codes of a run of mantissas (quantise_mantissa's, and 0 for bap 0), four
// at a time where the processor has AVX2; the plain version one at a time.
// All four spans are of one length. Throws "invalid bap" before writing any
// code.
void quantise_mantissas(std::span<const double> values, std::span<const uint8_t> exponents,
                        std::span<const uint8_t> baps, std::span<uint32_t> codes);
void quantise_mantissas_plain(std::span<const double> values, std::span<const uint8_t> exponents,
                              std::span<const uint8_t> baps, std::span<uint32_t> codes);

// Writes the mantissas of one block, channels in transmission order. Groups
// run across channel boundaries and are written at their first member; a
// last incomplete group is completed with the quantiser's zero code.
void write_mantissas(BitWriter& writer, std::span<const ChannelMantissas> channels);

}  // namespace oskavi
