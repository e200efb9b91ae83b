#include "ac3/mdct.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

#include "ac3/mdct_window.h"

namespace oskavi {

namespace {

struct Complex {
    double re;
    double im;
};

// e^{i * angle}; only called while tables are built.
Complex unit(double angle) { return {std::cos(angle), std::sin(angle)}; }

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

// A DCT-IV of M = 2 * Points values,
//   Y[k] = sum_n r[n] cos(pi (2n+1)(2k+1) / (4M)),
// through a Points-point complex FFT. With v[n] = r[2n] + i r[M-1-2n] and
// theta(n, k) = pi (4n+1)(4k+1) / (4M), the sum
//   c[k] = sum_n v[n] e^{-i theta(n, k)}
//        = e^{-i pi k / M} * FFT(v[n] e^{-i pi (4n+1) / (4M)})[k]
// gives both halves of the output: Y[2k] = Re c[k] and Y[M-1-2k] = -Im c[k].
// The output scale of the transform is folded into the post-twiddles (a
// power of two, so exactly).
template <int Points>
struct DctIvTables {
    std::array<Complex, Points> pre_twiddles;   // e^{-i pi (4n+1) / (8 Points)}
    std::array<Complex, Points> post_twiddles;  // scale * e^{-i pi k / (2 Points)}
    // The twiddles e^{-2 pi i j / m} of the butterfly stages of size
    // m = 8..Points laid out one stage after the other, real and imaginary
    // parts apart: the butterfly at offset j of a size-m stage reads entry
    // m / 2 - 4 + j.
    std::array<double, Points> stage_re;
    std::array<double, Points> stage_im;
};

template <int Points>
DctIvTables<Points> build_dct_iv_tables(double scale) {
    constexpr double pi = std::numbers::pi;
    constexpr int m_size = 2 * Points;
    DctIvTables<Points> tables{};
    for (int n = 0; n < Points; ++n) {
        const auto i = static_cast<std::size_t>(n);
        tables.pre_twiddles[i] = unit(-pi * (4 * n + 1) / (4 * m_size));
        const Complex post = unit(-pi * n / m_size);
        tables.post_twiddles[i] = {scale * post.re, scale * post.im};
    }
    for (int m = 8; m <= Points; m *= 2) {
        const int half = m / 2;
        for (int j = 0; j < half; ++j) {
            const Complex w = unit(-2.0 * pi * j / m);
            tables.stage_re[static_cast<std::size_t>(half - 4 + j)] = w.re;
            tables.stage_im[static_cast<std::size_t>(half - 4 + j)] = w.im;
        }
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

constexpr auto kLongBitReversal = bit_reversal_order<7, 128>();
constexpr auto kShortBitReversal = bit_reversal_order<6, 64>();

// The work array of one FFT, real and imaginary parts apart.
template <int Points>
struct FftWork {
    std::array<double, Points> re;
    std::array<double, Points> im;
};

// `Half` butterflies at offsets j = 0..Half-1 of one group of a stage:
//   t = w * b;  b = a - t;  a = a + t
// with t.re = w.re b.re - w.im b.im and t.im = w.re b.im + w.im b.re, in
// that order. The four halves are disjoint and the butterflies independent.
template <int Half>
void butterfly_group(double* __restrict ar, double* __restrict ai, double* __restrict br, double* __restrict bi,
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
void fft_stage(FftWork<Points>& z, const DctIvTables<Points>& tables) {
    const double* wr = tables.stage_re.data() + (Half - 4);
    const double* wi = tables.stage_im.data() + (Half - 4);
    for (int base = 0; base < Points; base += 2 * Half) {
        butterfly_group<Half>(z.re.data() + base, z.im.data() + base, z.re.data() + base + Half,
                              z.im.data() + base + Half, wr, wi);
    }
}

// The stages of sizes 2 and 4 at once: their twiddles are 1 and -i, so each
// group of four is a radix-4 butterfly of additions only.
template <int Points>
void fft_first_stages(FftWork<Points>& z) {
    for (std::size_t base = 0; base < Points; base += 4) {
        double* re = z.re.data() + base;
        double* im = z.im.data() + base;
        const double s0r = re[0] + re[1], s0i = im[0] + im[1];
        const double d0r = re[0] - re[1], d0i = im[0] - im[1];
        const double s1r = re[2] + re[3], s1i = im[2] + im[3];
        const double d1r = re[2] - re[3], d1i = im[2] - im[3];
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
void fft_butterflies(FftWork<Points>& z, const DctIvTables<Points>& tables) {
    fft_stage<Points, Half>(z, tables);
    if constexpr (2 * Half < Points) fft_butterflies<Points, 2 * Half>(z, tables);
}

// c[k] of the DCT-IV of r (see DctIvTables), scale included; Y[2k] is its
// real part and Y[M-1-2k] minus its imaginary part.
template <int Points>
FftWork<Points> dct_iv(const std::array<double, 2 * Points>& r, const DctIvTables<Points>& tables,
                       const std::array<uint16_t, Points>& bit_reversal) {
    constexpr std::size_t m_size = 2 * Points;
    FftWork<Points> z;
    for (std::size_t n = 0; n < Points; ++n) {
        const Complex pre = tables.pre_twiddles[n];
        const double vr = r[2 * n];
        const double vi = r[m_size - 1 - 2 * n];
        const std::size_t at = bit_reversal[n];
        z.re[at] = vr * pre.re - vi * pre.im;
        z.im[at] = vr * pre.im + vi * pre.re;
    }
    fft_first_stages<Points>(z);
    fft_butterflies<Points>(z, tables);
    FftWork<Points> c;
    for (std::size_t k = 0; k < Points; ++k) {
        const Complex post = tables.post_twiddles[k];
        c.re[k] = z.re[k] * post.re - z.im[k] * post.im;
        c.im[k] = z.re[k] * post.im + z.im[k] * post.re;
    }
    return c;
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

}  // namespace

MdctOutput mdct_long(MdctInput samples, bool dense) {
    return dense ? mdct_long_dense(samples) : mdct_long_fast(samples);
}

MdctOutput mdct_short_pair(MdctInput samples, bool dense) {
    return dense ? mdct_short_pair_dense(samples) : mdct_short_pair_fast(samples);
}

MdctOutput mdct_long_fast(MdctInput samples) {
    std::array<double, 512> xw;
    for (std::size_t n = 0; n < 512; ++n) xw[n] = kFullWindow[n] * samples[n];
    // Fold the 512 windowed samples into the 256 inputs of a DCT-IV.
    std::array<double, 256> u;
    for (std::size_t n = 0; n < 128; ++n) {
        u[n] = -xw[383 - n] - xw[384 + n];
        u[128 + n] = xw[n] - xw[255 - n];
    }
    const FftWork<128> c = dct_iv<128>(u, long_tables(), kLongBitReversal);
    MdctOutput out;
    for (std::size_t k = 0; k < 128; ++k) {
        out[2 * k] = c.re[k];
        out[255 - 2 * k] = -c.im[k];
    }
    return out;
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
        const FftWork<64> c = dct_iv<64>(r, tables, kShortBitReversal);
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
