#include "ac3/fft.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

namespace {

// Reversal of the low `Bits` bits of 0..Count-1: the order in which a
// radix-2 decimation-in-time FFT takes its input.
template <int Bits, int Count>
constexpr std::array<uint16_t, Count> bit_reversal_order() {
    std::array<uint16_t, Count> order{};
    for (int n = 0; n < Count; ++n) {
        int reversed = 0;
        for (int b = 0; b < Bits; ++b) {
            if ((n >> b) & 1) reversed |= 1 << (Bits - 1 - b);
        }
        order[static_cast<std::size_t>(n)] = static_cast<uint16_t>(reversed);
    }
    return order;
}

// The twiddles e^{-2 pi i j / m} of the butterfly stages of size
// m = 8..Points laid out one stage after the other, real and imaginary
// parts apart: the butterfly at offset j of a size-m stage reads entry
// m / 2 - 4 + j.
template <int Points>
struct FftTwiddles {
    std::array<double, Points> stage_re;
    std::array<double, Points> stage_im;
};

template <int Points>
FftTwiddles<Points> build_twiddles() {
    constexpr double pi = std::numbers::pi;
    FftTwiddles<Points> tables{};
    for (int m = 8; m <= Points; m *= 2) {
        const int half = m / 2;
        for (int j = 0; j < half; ++j) {
            const double angle = -2.0 * pi * j / m;
            tables.stage_re[static_cast<std::size_t>(half - 4 + j)] = std::cos(angle);
            tables.stage_im[static_cast<std::size_t>(half - 4 + j)] = std::sin(angle);
        }
    }
    return tables;
}

template <int Points>
const FftTwiddles<Points>& twiddles() {
    static const FftTwiddles<Points> tables = build_twiddles<Points>();
    return tables;
}

// `Half` butterflies at offsets j = 0..Half-1 of one group of a stage:
//   t = w * b;  b = a - t;  a = a + t
// with t.re = w.re b.re - w.im b.im and t.im = w.re b.im + w.im b.re, in
// that order. The four halves are disjoint and the butterflies independent.
template <int Half>
[[gnu::always_inline]] inline void butterfly_group(double* __restrict ar, double* __restrict ai,
                                                   double* __restrict br, double* __restrict bi,
                                                   const double* __restrict wr, const double* __restrict wi) {
    for (int j = 0; j < Half; ++j) {
        const double tr = wr[j] * br[j] - wi[j] * bi[j];
        const double ti = wr[j] * bi[j] + wi[j] * br[j];
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] = ar[j] + tr;
        ai[j] = ai[j] + ti;
    }
}

// One butterfly stage of size 2 * Half over the whole array.
template <int Points, int Half>
[[gnu::always_inline]] inline void fft_stage(FftWork<Points>& z, const FftTwiddles<Points>& tables) {
    const double* wr = tables.stage_re.data() + (Half - 4);
    const double* wi = tables.stage_im.data() + (Half - 4);
    for (int base = 0; base < Points; base += 2 * Half) {
        butterfly_group<Half>(z.re.data() + base, z.im.data() + base, z.re.data() + base + Half,
                              z.im.data() + base + Half, wr, wi);
    }
}

// The stages of sizes 2 and 4 at once, reading x in bit-reversed order
// (position p of the work array takes x[order[p]]): their twiddles are 1
// and -i, so each group of four is a radix-4 butterfly of additions only.
template <int Points>
[[gnu::always_inline]] inline void fft_first_stages(const FftWork<Points>& x, FftWork<Points>& z) {
    static constexpr std::array<uint16_t, Points> order =
        bit_reversal_order<std::countr_zero(unsigned{Points}), Points>();
    for (std::size_t base = 0; base < Points; base += 4) {
        const std::size_t i0 = order[base], i1 = order[base + 1], i2 = order[base + 2], i3 = order[base + 3];
        double* re = z.re.data() + base;
        double* im = z.im.data() + base;
        const double s0r = x.re[i0] + x.re[i1], s0i = x.im[i0] + x.im[i1];
        const double d0r = x.re[i0] - x.re[i1], d0i = x.im[i0] - x.im[i1];
        const double s1r = x.re[i2] + x.re[i3], s1i = x.im[i2] + x.im[i3];
        const double d1r = x.re[i2] - x.re[i3], d1i = x.im[i2] - x.im[i3];
        // -i * (d1r + i d1i) = d1i - i d1r
        re[0] = s0r + s1r;
        im[0] = s0i + s1i;
        re[2] = s0r - s1r;
        im[2] = s0i - s1i;
        re[1] = d0r + d1i;
        im[1] = d0i - d1r;
        re[3] = d0r - d1i;
        im[3] = d0i + d1r;
    }
}

// Radix-2 decimation-in-time butterflies of sizes 8, 16, ..., Points.
template <int Points, int Half = 4>
[[gnu::always_inline]] inline void fft_butterflies(FftWork<Points>& z, const FftTwiddles<Points>& tables) {
    fft_stage<Points, Half>(z, tables);
    if constexpr (2 * Half < Points) fft_butterflies<Points, 2 * Half>(z, tables);
}

template <int Points>
[[gnu::always_inline]] inline void fft_body(const FftWork<Points>& x, FftWork<Points>& z) {
    fft_first_stages<Points>(x, z);
    fft_butterflies<Points>(z, twiddles<Points>());
}

// The same code compiled twice (fft_plain below is the other): for any
// x86-64 processor, and for AVX2 processors, whose four-wide vectors do each
// element's arithmetic in the same order (and nothing is contracted into a
// fused multiply-add), so both give the same bits. The AVX2 build does the
// first two stages with explicit vectors.
#if OSKAVI_AVX2_KERNELS
// A 4 x 4 block of doubles, rows r[0..4) becoming its columns.
OSKAVI_AVX2_INLINE void transpose4(__m256d* r) {
    const __m256d t0 = _mm256_unpacklo_pd(r[0], r[1]);
    const __m256d t1 = _mm256_unpackhi_pd(r[0], r[1]);
    const __m256d t2 = _mm256_unpacklo_pd(r[2], r[3]);
    const __m256d t3 = _mm256_unpackhi_pd(r[2], r[3]);
    r[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    r[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    r[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    r[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// fft_first_stages four groups at a time, the same sums and differences.
// Group g takes x[i] for i = rev(4g + j), j = 0..3, which are r, r + P/2,
// r + P/4 and r + 3P/4 with r the reversal of g's own bits: groups of four
// consecutive r read four consecutive inputs at each offset, and each
// group's four outputs, gathered by a transpose, go to its own place 4g.
template <int Points>
OSKAVI_AVX2_INLINE void fft_first_stages_avx2(const FftWork<Points>& x, FftWork<Points>& z) {
    constexpr int kBits = std::countr_zero(unsigned{Points});
    static constexpr std::array<uint16_t, Points / 4> group_of = bit_reversal_order<kBits - 2, Points / 4>();
    const double* xr = x.re.data();
    const double* xi = x.im.data();
    for (int r = 0; r < Points / 4; r += 4) {
        // x[i0], x[i1], x[i2], x[i3] of the scalar stages, four groups in each vector.
        const __m256d a_re = _mm256_loadu_pd(xr + r), b_re = _mm256_loadu_pd(xr + r + Points / 2);
        const __m256d c_re = _mm256_loadu_pd(xr + r + Points / 4), d_re = _mm256_loadu_pd(xr + r + 3 * Points / 4);
        const __m256d a_im = _mm256_loadu_pd(xi + r), b_im = _mm256_loadu_pd(xi + r + Points / 2);
        const __m256d c_im = _mm256_loadu_pd(xi + r + Points / 4), d_im = _mm256_loadu_pd(xi + r + 3 * Points / 4);
        const __m256d s0r = _mm256_add_pd(a_re, b_re), s0i = _mm256_add_pd(a_im, b_im);
        const __m256d d0r = _mm256_sub_pd(a_re, b_re), d0i = _mm256_sub_pd(a_im, b_im);
        const __m256d s1r = _mm256_add_pd(c_re, d_re), s1i = _mm256_add_pd(c_im, d_im);
        const __m256d d1r = _mm256_sub_pd(c_re, d_re), d1i = _mm256_sub_pd(c_im, d_im);
        __m256d re[4] = {_mm256_add_pd(s0r, s1r), _mm256_add_pd(d0r, d1i), _mm256_sub_pd(s0r, s1r),
                         _mm256_sub_pd(d0r, d1i)};
        __m256d im[4] = {_mm256_add_pd(s0i, s1i), _mm256_sub_pd(d0i, d1r), _mm256_sub_pd(s0i, s1i),
                         _mm256_add_pd(d0i, d1r)};
        transpose4(re);
        transpose4(im);
        for (int k = 0; k < 4; ++k) {
            _mm256_storeu_pd(z.re.data() + 4 * group_of[r + k], re[k]);
            _mm256_storeu_pd(z.im.data() + 4 * group_of[r + k], im[k]);
        }
    }
}

template <int Points>
OSKAVI_AVX2 void fft_avx2(const FftWork<Points>& x, FftWork<Points>& z) {
    fft_first_stages_avx2<Points>(x, z);
    fft_butterflies<Points>(z, twiddles<Points>());
}
#else
template <int Points>
void fft_avx2(const FftWork<Points>& x, FftWork<Points>& z) {
    fft_body<Points>(x, z);
}
#endif

}  // namespace

template <int Points>
void fft(const FftWork<Points>& x, FftWork<Points>& z) {
    if (processor_has_avx2()) {
        fft_avx2<Points>(x, z);
    } else {
        fft_plain<Points>(x, z);
    }
}

template <int Points>
void fft_plain(const FftWork<Points>& x, FftWork<Points>& z) {
    fft_body<Points>(x, z);
}

template void fft<64>(const FftWork<64>& x, FftWork<64>& z);
template void fft<128>(const FftWork<128>& x, FftWork<128>& z);
template void fft_plain<64>(const FftWork<64>& x, FftWork<64>& z);
template void fft_plain<128>(const FftWork<128>& x, FftWork<128>& z);

}  // namespace oskavi
