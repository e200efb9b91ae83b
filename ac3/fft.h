#pragma once
// Radix-2 decimation-in-time complex FFT of 64 or 128 points over split
// real and imaginary arrays: the kernel of the MDCT's DCT-IV.
//
//   X[k] = sum_n x[n] e^{-2 pi i n k / Points}
//
// Input and output are in natural order; the first butterflies read the
// input in the bit-reversed order a decimation-in-time FFT takes it. The
// twiddles are built once on first use (thread-safe); no trigonometric
// function is evaluated per call.

#include <array>
#include <cstdint>

namespace oskavi {

// The work array of one FFT, real and imaginary parts apart.
template <int Points>
struct FftWork {
    std::array<double, Points> re;
    std::array<double, Points> im;
};

// X of x into z. Runs the AVX2 build where the processor has it; the plain
// build gives the same bits on any processor.
template <int Points>
void fft(const FftWork<Points>& x, FftWork<Points>& z);
template <int Points>
void fft_plain(const FftWork<Points>& x, FftWork<Points>& z);

// Instantiated for the long (128-point) and short (64-point) transforms.
extern template void fft<64>(const FftWork<64>& x, FftWork<64>& z);
extern template void fft<128>(const FftWork<128>& x, FftWork<128>& z);
extern template void fft_plain<64>(const FftWork<64>& x, FftWork<64>& z);
extern template void fft_plain<128>(const FftWork<128>& x, FftWork<128>& z);

}  // namespace oskavi
