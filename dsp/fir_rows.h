#pragma once
// The inner loop of the rate conversion: many FIR outputs at once, each the
// sum of taps[r] * rows[r][n] over r ascending, accumulated in double from
// 0.0 and rounded once to float. Every output keeps exactly the summation
// order of the one-at-a-time dot products in dsp/sample_rate_conversion.h;
// only independent outputs are computed side by side, so the vector and plain
// kernels give the same bits.

#include <cstddef>
#include <span>

namespace oskavi {

// out[n] = float(sum over r of taps[r] * rows[r][n]); rows[r] must reach
// out.size() doubles. Picks the AVX2 kernel when the processor has it.
void fir_rows(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out);

// The two kernels behind fir_rows, for the tests that hold them to the same bits.
void fir_rows_plain(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out);
void fir_rows_avx2(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out);

}  // namespace oskavi
