#include "ac3/mdct.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>

#include "ac3/mdct_window.h"
#include "platform/environment.h"

namespace oskavi {

namespace {

struct Complex {
    double re;
    double im;
};

// e^{i * angle}; only called while tables are built.
Complex unit(double angle) { return {std::cos(angle), std::sin(angle)}; }

// Reversal of the low `bits` bits of 0..count-1: the order in which a
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

// 9-bit reversal of 0..255 (long transform, 512-point FFT) and 8-bit
// reversal of 0..127 (short transforms, 256-point FFT). Inputs below half the
// FFT size land on even positions only; the odd positions stay zero.
constexpr auto kLongBitReversal = bit_reversal_order<9, 256>();
constexpr auto kShortBitReversal = bit_reversal_order<8, 128>();

// A DCT-IV of Size/2 points, Y[k] = sum_n r[n] cos(pi (2n+1)(2k+1) / (2 Size)),
// evaluated as Re(Z[k] e^{-i pi (2k+1) / (2 Size)}) where Z is the Size-point
// FFT of r[n] e^{-i pi n / Size} zero-padded to Size entries.
template <int Size>
struct DctIvTables {
    static constexpr int kPoints = Size / 2;
    std::array<Complex, kPoints> fft_twiddles;  // e^{-2 pi i n / Size}
    std::array<Complex, kPoints> pre_twiddles;  // e^{-pi i n / Size}
    std::array<Complex, kPoints> post_twiddles; // e^{-pi i (2k + 1) / (2 Size)}
    // The twiddles of the butterfly stages of size 4..Size laid out one stage
    // after the other, real and imaginary parts apart: the butterfly at
    // offset j of a size-m stage reads entry m / 2 - 2 + j, a copy of
    // fft_twiddles[j * Size / m].
    std::array<double, Size> stage_re;
    std::array<double, Size> stage_im;
};

template <int Size>
DctIvTables<Size> build_dct_iv_tables() {
    constexpr double pi = std::numbers::pi;
    DctIvTables<Size> tables{};
    for (int n = 0; n < Size / 2; ++n) {
        const auto i = static_cast<std::size_t>(n);
        tables.fft_twiddles[i] = unit(-2.0 * pi * n / Size);
        tables.pre_twiddles[i] = unit(-pi * n / Size);
        tables.post_twiddles[i] = unit(-pi * (2 * n + 1) / (2 * Size));
    }
    for (int m = 4; m <= Size; m *= 2) {
        const int half = m / 2;
        for (int j = 0; j < half; ++j) {
            const Complex w = tables.fft_twiddles[static_cast<std::size_t>(j * (Size / m))];
            tables.stage_re[static_cast<std::size_t>(half - 2 + j)] = w.re;
            tables.stage_im[static_cast<std::size_t>(half - 2 + j)] = w.im;
        }
    }
    return tables;
}

const DctIvTables<512>& long_tables() {
    static const DctIvTables<512> tables = build_dct_iv_tables<512>();
    return tables;
}

const DctIvTables<256>& short_tables() {
    static const DctIvTables<256> tables = build_dct_iv_tables<256>();
    return tables;
}

// The work array of one FFT, real and imaginary parts apart.
template <int Size>
struct FftWork {
    std::array<double, Size> re;
    std::array<double, Size> im;
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
template <int Size, int Half>
void fft_stage(FftWork<Size>& z, const DctIvTables<Size>& tables) {
    const double* wr = tables.stage_re.data() + (Half - 2);
    const double* wi = tables.stage_im.data() + (Half - 2);
    for (int base = 0; base < Size; base += 2 * Half) {
        butterfly_group<Half>(z.re.data() + base, z.im.data() + base, z.re.data() + base + Half,
                              z.im.data() + base + Half, wr, wi);
    }
}

// Radix-2 decimation-in-time butterflies of sizes 4, 8, ..., Size.
template <int Size, int Half = 2>
void fft_butterflies(FftWork<Size>& z, const DctIvTables<Size>& tables) {
    fft_stage<Size, Half>(z, tables);
    if constexpr (2 * Half < Size) fft_butterflies<Size, 2 * Half>(z, tables);
}

template <int Size>
std::array<double, Size / 2> dct_iv(const std::array<double, Size / 2>& r, const DctIvTables<Size>& tables,
                                    const std::array<uint16_t, Size / 2>& bit_reversal) {
    // The inputs land on even positions only. The size-2 stage pairs each
    // with the zero above it: there t = w * 0 = +0 exactly, so the pair
    // becomes (a + 0.0, a), written here directly (a + 0.0 turns -0 into +0
    // as the butterfly does).
    FftWork<Size> z;
    for (std::size_t n = 0; n < Size / 2; ++n) {
        const Complex pre = tables.pre_twiddles[n];
        const double re = r[n] * pre.re;
        const double im = r[n] * pre.im;
        const std::size_t at = bit_reversal[n];
        z.re[at] = re + 0.0;
        z.im[at] = im + 0.0;
        z.re[at + 1] = re;
        z.im[at + 1] = im;
    }
    fft_butterflies<Size>(z, tables);
    std::array<double, Size / 2> y;
    for (std::size_t k = 0; k < Size / 2; ++k) {
        const Complex post = tables.post_twiddles[k];
        y[k] = z.re[k] * post.re - z.im[k] * post.im;
    }
    return y;
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

bool mdct_uses_dense_path() { return env_flag_enabled("OSKAVI_DENSE_MDCT"); }

MdctOutput mdct_long(MdctInput samples) {
    return mdct_uses_dense_path() ? mdct_long_dense(samples) : mdct_long_fast(samples);
}

MdctOutput mdct_short_pair(MdctInput samples) {
    return mdct_uses_dense_path() ? mdct_short_pair_dense(samples) : mdct_short_pair_fast(samples);
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
    const std::array<double, 256> y = dct_iv<512>(u, long_tables(), kLongBitReversal);
    MdctOutput out;
    for (std::size_t k = 0; k < 256; ++k) out[k] = -(1.0 / 256.0) * y[k];
    return out;
}

MdctOutput mdct_short_pair_fast(MdctInput samples) {
    const DctIvTables<256>& tables = short_tables();
    MdctOutput out{};
    for (int half = 0; half < 2; ++half) {
        const std::array<double, 256> s = window_half(samples, half);
        std::array<double, 128> r;
        if (half == 0) {
            // alpha = -1: the odd symmetry of the kernel folds s into r directly.
            for (std::size_t j = 0; j < 128; ++j) r[j] = s[j] - s[255 - j];
        } else {
            // alpha = +1: the kernel's extra quarter turn per (2k + 1) turns the
            // even fold into a DCT-IV of the reversed sums.
            std::array<double, 128> v;
            for (std::size_t j = 0; j < 128; ++j) v[j] = s[j] + s[255 - j];
            for (std::size_t i = 0; i < 128; ++i) r[i] = v[127 - i];
        }
        const std::array<double, 128> y = dct_iv<256>(r, tables, kShortBitReversal);
        const double scale = half == 0 ? -(1.0 / 128.0) : (1.0 / 128.0);
        for (std::size_t k = 0; k < 128; ++k) out[2 * k + static_cast<std::size_t>(half)] = scale * y[k];
    }
    return out;
}

}  // namespace oskavi
