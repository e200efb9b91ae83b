#pragma once
// The byte-lane AVX2 kernels behind tally_mantissas, tally_stepped_mantissas
// and baps_into: 32 bins at a time, for rows whose every exponent is at most
// kLargestByteExponent. Call them only where the processor has AVX2.

#include <cstdint>
#include <span>

#include "ac3/mantissa_tally.h"
#include "platform/processor_features.h"

namespace oskavi {

// The largest exponent the byte-lane kernels take.
inline constexpr uint8_t kLargestByteExponent = 24;

// The decoder's per-band threshold: the mask lowered by the SNR offset and
// the floor, clipped at zero, truncated to the 0x1FE0 grid, floor added back.
inline int32_t band_threshold(int32_t mask, int32_t snroffset, int32_t floor) {
    int32_t m = mask - snroffset - floor;
    if (m < 0) m = 0;
    return (m & 0x1FE0) + floor;
}

// The tally of bins [start, end) at the SNR offset `snroffset`.
MantissaTally tally_avx2(BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
                         uint32_t end, int32_t floor, int32_t snroffset);
// The baps of bins [start, end) into out[start..end).
void baps_avx2(uint8_t* out, BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
               uint32_t end, int32_t floor, int32_t snroffset);
// The largest exponent of the row (255 in a build without the kernels).
uint8_t row_largest_avx2(BinExponents exponents);

}  // namespace oskavi
