#pragma once
// Radix-2 decimation-in-time complex FFT of 64 or 128 points, in place over
// split real and imaginary arrays: the kernel of the MDCT's DCT-IV.
//
//   X[k] = sum_n x[n] e^{-2 pi i n k / Points}
//
// The caller stores input x[n] at position fft_input_order<Points>()[n] (the
// bit reversal of n); the output X[k] is at position k. The twiddles are
// built once on first use (thread-safe); no trigonometric function is
// evaluated per call.

#include <array>
#include <cstdint>

namespace oskavi {

// The work array of one FFT, real and imaginary parts apart.
template <int Points>
struct FftWork {
    std::array<double, Points> re;
    std::array<double, Points> im;
};

// Position of input n in the work array: the reversal of n's low log2(Points) bits.
template <int Points>
const std::array<uint16_t, Points>& fft_input_order();

// Runs the AVX2 build where the processor has it; the plain build gives the
// same bits on any processor.
template <int Points>
void fft_in_place(FftWork<Points>& z);
template <int Points>
void fft_in_place_plain(FftWork<Points>& z);

// Instantiated for the long (128-point) and short (64-point) transforms.
extern template const std::array<uint16_t, 64>& fft_input_order<64>();
extern template const std::array<uint16_t, 128>& fft_input_order<128>();
extern template void fft_in_place<64>(FftWork<64>& z);
extern template void fft_in_place<128>(FftWork<128>& z);
extern template void fft_in_place_plain<64>(FftWork<64>& z);
extern template void fft_in_place_plain<128>(FftWork<128>& z);

}  // namespace oskavi
