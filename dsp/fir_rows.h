#pragma once
// The inner loop of the rate conversion: many FIR outputs at once, each the
// sum of taps[r] * rows[r][column + n] over r ascending, accumulated in double
// from 0.0 and rounded once to float. Every output keeps exactly the
// summation order of the one-at-a-time dot products in
// dsp/sample_rate_conversion.h; only independent outputs are computed side by
// side, so the vector and plain kernels give the same bits.

#include <cstddef>
#include <span>

namespace oskavi {

// A run of outputs of one filter phase: output n reads rows[r][column + n].
struct FirRun {
    std::span<const double* const> rows;
    std::span<const double> taps;
    size_t column = 0;
};

// out[n * stride] = float(sum over r of taps[r] * rows[r][column + n]) for
// n < count; every row must reach column + count doubles. Picks the AVX2
// kernel when the processor has it.
void fir_rows(const FirRun& run, size_t count, float* out, size_t stride);

// The two kernels behind fir_rows, for the tests that hold them to the same bits.
void fir_rows_plain(const FirRun& run, size_t count, float* out, size_t stride);
void fir_rows_avx2(const FirRun& run, size_t count, float* out, size_t stride);

}  // namespace oskavi
