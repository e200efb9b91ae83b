#include "ac3/mdct.h"

#include <cmath>
#include <cstddef>
#include <numbers>

#include "ac3/fft.h"
#include "ac3/mdct_window.h"
#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

namespace {

struct Complex {
    double re;
    double im;
};

// e^{i * angle}; only called while tables are built.
Complex unit(double angle) { return {std::cos(angle), std::sin(angle)}; }

// A DCT-IV of M = 2 * Points values,
//   Y[k] = sum_n r[n] cos(pi (2n+1)(2k+1) / (4M)),
// through a Points-point complex FFT. With v[n] = r[2n] + i r[M-1-2n] and
// theta(n, k) = pi (4n+1)(4k+1) / (4M), the sum
//   c[k] = sum_n v[n] e^{-i theta(n, k)}
//        = e^{-i pi k / M} * FFT(v[n] e^{-i pi (4n+1) / (4M)})[k]
// gives both halves of the output: Y[2k] = Re c[k] and Y[M-1-2k] = -Im c[k].
// The output scale of the transform is folded into the post-twiddles (a
// power of two, so exactly).
// Real and imaginary parts apart, so that the twiddle loops run in vectors.
template <int Points>
struct Twiddles {
    std::array<double, Points> re;
    std::array<double, Points> im;
};

template <int Points>
struct DctIvTables {
    Twiddles<Points> pre;   // e^{-i pi (4n+1) / (8 Points)}
    Twiddles<Points> post;  // scale * e^{-i pi k / (2 Points)}
};

template <int Points>
DctIvTables<Points> build_dct_iv_tables(double scale) {
    constexpr double pi = std::numbers::pi;
    constexpr int m_size = 2 * Points;
    DctIvTables<Points> tables{};
    for (int n = 0; n < Points; ++n) {
        const auto i = static_cast<std::size_t>(n);
        const Complex pre = unit(-pi * (4 * n + 1) / (4 * m_size));
        tables.pre.re[i] = pre.re;
        tables.pre.im[i] = pre.im;
        const Complex post = unit(-pi * n / m_size);
        tables.post.re[i] = scale * post.re;
        tables.post.im[i] = scale * post.im;
    }
    return tables;
}

// Long transform: a 256-point DCT-IV (128-point FFT), output scale -1/256.
const DctIvTables<128>& long_tables() {
    static const DctIvTables<128> tables = build_dct_iv_tables<128>(-1.0 / 256.0);
    return tables;
}

// Short transforms: a 128-point DCT-IV (64-point FFT); the sign of the
// 1/128 scale differs between the two halves and is applied on output.
const DctIvTables<64>& short_tables() {
    static const DctIvTables<64> tables = build_dct_iv_tables<64>(1.0 / 128.0);
    return tables;
}

// c[k] of the DCT-IV of r (see DctIvTables), scale included; Y[2k] is its
// real part and Y[M-1-2k] minus its imaginary part.
// The same from v[n] = r[2n] + i r[M-1-2n] itself.
template <int Points, void (*Fft)(const FftWork<Points>&, FftWork<Points>&) = fft<Points>>
[[gnu::always_inline]] inline FftWork<Points> dct_iv_of_pairs(const FftWork<Points>& v,
                                                              const DctIvTables<Points>& tables) {
    FftWork<Points> twiddled;
    for (std::size_t n = 0; n < Points; ++n) {
        twiddled.re[n] = v.re[n] * tables.pre.re[n] - v.im[n] * tables.pre.im[n];
        twiddled.im[n] = v.re[n] * tables.pre.im[n] + v.im[n] * tables.pre.re[n];
    }
    FftWork<Points> z;
    Fft(twiddled, z);
    FftWork<Points> c;
    for (std::size_t k = 0; k < Points; ++k) {
        c.re[k] = z.re[k] * tables.post.re[k] - z.im[k] * tables.post.im[k];
        c.im[k] = z.re[k] * tables.post.im[k] + z.im[k] * tables.post.re[k];
    }
    return c;
}

template <int Points, void (*Fft)(const FftWork<Points>&, FftWork<Points>&) = fft<Points>>
[[gnu::always_inline]] inline FftWork<Points> dct_iv(const std::array<double, 2 * Points>& r,
                                                     const DctIvTables<Points>& tables) {
    constexpr std::size_t m_size = 2 * Points;
    FftWork<Points> v;
    for (std::size_t n = 0; n < Points; ++n) {
        v.re[n] = r[2 * n];
        v.im[n] = r[m_size - 1 - 2 * n];
    }
    return dct_iv_of_pairs<Points, Fft>(v, tables);
}

// w[n] of the full 512-point window as one table.
constexpr std::array<double, 512> make_full_window() {
    std::array<double, 512> w{};
    for (int n = 0; n < 512; ++n) w[static_cast<std::size_t>(n)] = mdct_window(n);
    return w;
}
constexpr std::array<double, 512> kFullWindow = make_full_window();

// One half of the short pair: the 256 windowed samples of that half.
std::array<double, 256> window_half(MdctInput samples, int half) {
    std::array<double, 256> s;
    const std::size_t first = 256 * static_cast<std::size_t>(half);
    for (std::size_t n = 0; n < 256; ++n) s[n] = kFullWindow[first + n] * samples[first + n];
    return s;
}

// The 512 samples are windowed (xw[i] = w[i] x[i]) and folded into the 256
// inputs of the long transform's DCT-IV, u[n] = -xw[383 - n] - xw[384 + n]
// and u[128 + n] = xw[n] - xw[255 - n] (n < 128), which go in pairs
// v[n] = u[2n] + i u[255 - 2n]. Each pair is made straight from its four
// windowed samples, every product and difference as written here.
[[gnu::always_inline]] inline void pairs_from_samples(MdctInput samples, FftWork<128>& v) {
    const auto xw = [samples](std::size_t i) { return kFullWindow[i] * samples[i]; };
    for (std::size_t n = 0; n < 64; ++n) {
        v.re[n] = -xw(383 - 2 * n) - xw(384 + 2 * n);  // u[2n]
        v.im[n] = xw(127 - 2 * n) - xw(128 + 2 * n);   // u[128 + (127 - 2n)]
    }
    for (std::size_t n = 64; n < 128; ++n) {
        v.re[n] = xw(2 * n - 128) - xw(383 - 2 * n);   // u[128 + (2n - 128)]
        v.im[n] = -xw(128 + 2 * n) - xw(639 - 2 * n);  // u[255 - 2n]
    }
}

#if OSKAVI_AVX2_KERNELS
// p[0], p[2], p[4], p[6].
OSKAVI_AVX2_INLINE __m256d even_four(const double* p) {
    return _mm256_permute4x64_pd(_mm256_unpacklo_pd(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)), 0xD8);
}

// p[7], p[5], p[3], p[1].
OSKAVI_AVX2_INLINE __m256d odd_four_reversed(const double* p) {
    return _mm256_permute4x64_pd(_mm256_unpackhi_pd(_mm256_loadu_pd(p), _mm256_loadu_pd(p + 4)), 0x27);
}

// pairs_from_samples four pairs at a time: all 512 products first, then the
// even and odd ones picked out by shuffles (the same products and
// differences, -a - b as (-a) - b).
OSKAVI_AVX2 void pairs_from_samples_avx2(MdctInput samples, FftWork<128>& v) {
    alignas(32) std::array<double, 512> xw;
    for (std::size_t i = 0; i < 512; i += 4) {
        _mm256_store_pd(xw.data() + i,
                        _mm256_mul_pd(_mm256_loadu_pd(kFullWindow.data() + i), _mm256_loadu_pd(samples.data() + i)));
    }
    const __m256d sign = _mm256_set1_pd(-0.0);
    const double* x = xw.data();
    for (std::size_t n = 0; n < 64; n += 4) {
        const std::size_t m = 2 * n;
        const __m256d re = _mm256_sub_pd(_mm256_xor_pd(odd_four_reversed(x + 376 - m), sign), even_four(x + 384 + m));
        const __m256d im = _mm256_sub_pd(odd_four_reversed(x + 120 - m), even_four(x + 128 + m));
        _mm256_storeu_pd(v.re.data() + n, re);
        _mm256_storeu_pd(v.im.data() + n, im);
    }
    for (std::size_t n = 64; n < 128; n += 4) {
        const std::size_t m = 2 * n;
        const __m256d re = _mm256_sub_pd(even_four(x + m - 128), odd_four_reversed(x + 376 - m));
        const __m256d im = _mm256_sub_pd(_mm256_xor_pd(even_four(x + 128 + m), sign), odd_four_reversed(x + 632 - m));
        _mm256_storeu_pd(v.re.data() + n, re);
        _mm256_storeu_pd(v.im.data() + n, im);
    }
}
#endif

template <void (*Fft)(const FftWork<128>&, FftWork<128>&), void (*MakePairs)(MdctInput, FftWork<128>&)>
[[gnu::always_inline]] inline MdctOutput long_transform(MdctInput samples) {
    FftWork<128> v;
    MakePairs(samples, v);
    const FftWork<128> c = dct_iv_of_pairs<128, Fft>(v, long_tables());
    MdctOutput out;
    for (std::size_t k = 0; k < 128; ++k) {
        out[2 * k] = c.re[k];
        out[255 - 2 * k] = -c.im[k];
    }
    return out;
}

// The long transform compiled twice (mdct_long_fast_plain is the other): for
// any x86-64 processor, and for AVX2
// processors, whose four-wide vectors do each element's arithmetic in the
// same order (and nothing is contracted into a fused multiply-add), so both
// give the same bits.
#if OSKAVI_AVX2_KERNELS
OSKAVI_AVX2 MdctOutput long_transform_avx2(MdctInput samples) {
    return long_transform<fft<128>, pairs_from_samples_avx2>(samples);
}
#else
MdctOutput long_transform_avx2(MdctInput samples) { return long_transform<fft<128>, pairs_from_samples>(samples); }
#endif

}  // namespace

MdctOutput mdct_long(MdctInput samples, bool dense) {
    return dense ? mdct_long_dense(samples) : mdct_long_fast(samples);
}

MdctOutput mdct_short_pair(MdctInput samples, bool dense) {
    return dense ? mdct_short_pair_dense(samples) : mdct_short_pair_fast(samples);
}

MdctOutput mdct_long_fast(MdctInput samples) {
    return processor_has_avx2() ? long_transform_avx2(samples) : mdct_long_fast_plain(samples);
}

MdctOutput mdct_long_fast_plain(MdctInput samples) {
    return long_transform<fft_plain<128>, pairs_from_samples>(samples);
}

MdctOutput mdct_short_pair_fast(MdctInput samples) {
    const DctIvTables<64>& tables = short_tables();
    MdctOutput out;
    for (int half = 0; half < 2; ++half) {
        const std::array<double, 256> s = window_half(samples, half);
        std::array<double, 128> r;
        if (half == 0) {
            // alpha = -1: the odd symmetry of the kernel folds s into r directly.
            for (std::size_t j = 0; j < 128; ++j) r[j] = s[j] - s[255 - j];
        } else {
            // alpha = +1: the kernel's extra quarter turn per (2k + 1) turns the
            // even fold into a DCT-IV of the reversed sums.
            for (std::size_t j = 0; j < 128; ++j) r[127 - j] = s[j] + s[255 - j];
        }
        const FftWork<64> c = dct_iv<64>(r, tables);
        // Transform `half` of the pair lands on outputs 2k + half; the first
        // carries scale -1/128, the second +1/128.
        const double sign = half == 0 ? -1.0 : 1.0;
        const auto h = static_cast<std::size_t>(half);
        for (std::size_t k = 0; k < 64; ++k) {
            out[2 * (2 * k) + h] = sign * c.re[k];
            out[2 * (127 - 2 * k) + h] = -sign * c.im[k];
        }
    }
    return out;
}

}  // namespace oskavi
