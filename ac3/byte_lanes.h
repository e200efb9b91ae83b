#pragma once
// A small helper shared by the AVX2 kernels that work in byte lanes.

#include <cstdint>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>

namespace oskavi {

// The largest of the 32 unsigned bytes of v.
OSKAVI_AVX2_INLINE uint8_t largest_byte(__m256i v) {
    __m128i m = _mm_max_epu8(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<uint8_t>(_mm_cvtsi128_si32(m));
}

}  // namespace oskavi
#endif
