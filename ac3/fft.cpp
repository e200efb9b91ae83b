#include "ac3/fft.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "platform/processor_features.h"

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
// fused multiply-add), so both give the same bits.
#if OSKAVI_AVX2_KERNELS
template <int Points>
OSKAVI_AVX2 void fft_avx2(const FftWork<Points>& x, FftWork<Points>& z) {
    fft_body<Points>(x, z);
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
