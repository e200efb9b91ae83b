#pragma once
// Raw exponents from MDCT coefficients, and preparation of a transmitted
// D15/D25/D45 exponent set with the grouping and slew limit a decoder reverses.

#include <cstdint>
#include <span>

#include "ac3/exponent_set.h"
#include "ac3/frame_records.h"

namespace oskavi {

// 24 for |X| at most the smallest normal double; otherwise -E of
// |X| = m * 2^E (0.5 <= m < 1), clamped to 0..24.
RawExponents raw_exponents(std::span<const double, kBinsPerBlock> coefficients);

// Throws "cannot prepare a reuse exponent set", "invalid exponent coefficient
// count", "reuse is not a transmitted exponent set" on bad arguments.
ExponentSet prepare_exponent_set(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins);

// The decoded exponents of prepare_exponent_set(exponents, strategy,
// coded_bins) alone, into `out`; returns its group count. For costing
// candidate sets: the arguments are not checked and no group codes are made.
uint32_t shape_exponents(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins,
                         std::span<uint8_t, kBinsPerBlock> out);

}  // namespace oskavi
