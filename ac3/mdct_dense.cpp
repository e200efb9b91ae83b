// Dense evaluation of the transforms: each coefficient is the dot product of
// the input with one row of a precomputed kernel. Slow, but a direct reading
// of the defining sums, kept as a cross-check of the fast path.

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

#include "ac3/mdct.h"
#include "ac3/mdct_window.h"

namespace oskavi {

namespace {

struct DenseKernels {
    std::vector<double> long_kernel;   // 256 rows of 512: window and -1/256 folded in
    std::vector<double> short_first;   // 128 rows of 256, alpha = -1, -1/128 folded in
    std::vector<double> short_second;  // 128 rows of 256, alpha = +1, -1/128 folded in
};

// cos(pi * phase / half_turn) with the phase reduced exactly to one period
// first, so large arguments lose no precision.
double cos_of_phase(long phase, long half_turn) {
    const long reduced = phase % (2 * half_turn);
    return std::cos(std::numbers::pi * static_cast<double>(reduced) / static_cast<double>(half_turn));
}

// Long kernel: w[n] * (-1/256) * cos((pi/1024)(2n+1)(2k+1) + (pi/4)(2k+1)),
// whose phase is (pi/1024)(2k+1)(2n+1+256).
std::vector<double> build_long_kernel() {
    std::vector<double> kernel(256 * 512);
    for (long k = 0; k < 256; ++k) {
        for (long n = 0; n < 512; ++n) {
            const double scaled_window = mdct_window(static_cast<int>(n)) * (-1.0 / 256.0);
            kernel[static_cast<std::size_t>(k * 512 + n)] =
                scaled_window * cos_of_phase((2 * k + 1) * (2 * n + 1 + 256), 1024);
        }
    }
    return kernel;
}

// Short kernels: -(1/128) * cos((pi/512)(2n+1)(2k+1) + (pi/4)(2k+1)(1+alpha)),
// whose phase is (pi/512)(2k+1)(2n+1+128(1+alpha)).
std::vector<double> build_short_kernel(long one_plus_alpha) {
    std::vector<double> kernel(128 * 256);
    for (long k = 0; k < 128; ++k) {
        for (long n = 0; n < 256; ++n) {
            kernel[static_cast<std::size_t>(k * 256 + n)] =
                -(1.0 / 128.0) * cos_of_phase((2 * k + 1) * (2 * n + 1 + 128 * one_plus_alpha), 512);
        }
    }
    return kernel;
}

// Built on the first dense call only; shared read-only afterwards.
const DenseKernels& dense_kernels() {
    static const DenseKernels kernels{build_long_kernel(), build_short_kernel(0), build_short_kernel(2)};
    return kernels;
}

// sum_n row[n] * x[n] in n order: each run of eight products is summed from
// 0.0, then added to the running total.
double dot_in_groups_of_eight(const double* row, const double* x, std::size_t count) {
    double total = 0.0;
    for (std::size_t g = 0; g < count; g += 8) {
        double group = 0.0;
        for (std::size_t i = g; i < g + 8; ++i) group += row[i] * x[i];
        total += group;
    }
    return total;
}

}  // namespace

MdctOutput mdct_long_dense(MdctInput samples) {
    const std::vector<double>& kernel = dense_kernels().long_kernel;
    MdctOutput out{};
    for (std::size_t k = 0; k < 256; ++k) {
        out[k] = dot_in_groups_of_eight(kernel.data() + k * 512, samples.data(), 512);
    }
    return out;
}

MdctOutput mdct_short_pair_dense(MdctInput samples) {
    const DenseKernels& kernels = dense_kernels();
    MdctOutput out{};
    for (std::size_t half = 0; half < 2; ++half) {
        std::array<double, 256> s{};
        for (std::size_t n = 0; n < 256; ++n) {
            const std::size_t at = 256 * half + n;
            s[n] = mdct_window(static_cast<int>(at)) * samples[at];
        }
        const std::vector<double>& kernel = half == 0 ? kernels.short_first : kernels.short_second;
        for (std::size_t k = 0; k < 128; ++k) {
            out[2 * k + half] = dot_in_groups_of_eight(kernel.data() + k * 256, s.data(), 256);
        }
    }
    return out;
}

}  // namespace oskavi
