#pragma once
// The slew limit of differential exponent coding: A/52 sends each exponent
// after the first as a step of -2..+2 from its predecessor, so a set's step
// exponents are lowered (never raised: a lower exponent only costs bits, a
// higher one would overflow a mantissa) until every neighbour pair differs by
// at most 2.

#include <cstddef>
#include <cstdint>
#include <span>

namespace oskavi {

// r[0..n) with every value at most 24 and n at most 256: afterwards
// |r[i] - r[i - 1]| <= 2 for every i, each value the largest that allows it.
// Uses the AVX2 kernel where the processor has AVX2, else the SSE2 kernel
// where the build has SSE2, else the plain one.
void limit_slew(std::span<uint8_t> r);

// Room for limit_slew_in_place: 256 values and 32 bytes of padding.
inline constexpr std::size_t kSlewRoom = 256 + 32;

// limit_slew over buffer[0..n), n at most 256, without copying it: the
// bytes of the buffer past n are overwritten.
void limit_slew_in_place(std::span<uint8_t, kSlewRoom> buffer, std::size_t n);

// The kernels behind limit_slew, for the test that holds them to the same
// result (limit_slew_avx2 falls back to the SSE2 one without AVX2, and that
// to the plain one without SSE2).
void limit_slew_plain(std::span<uint8_t> r);
void limit_slew_sse2(std::span<uint8_t> r);
void limit_slew_avx2(std::span<uint8_t> r);
bool limit_slew_sse2_available();

}  // namespace oskavi
