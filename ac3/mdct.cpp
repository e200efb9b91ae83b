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

// In-place radix-2 decimation-in-time butterflies over bit-reversed input,
// stage sizes 2, 4, ..., Size. The butterfly at offset j of a size-m stage
// uses e^{-2 pi i j / m}, entry j * Size / m of the twiddle table.
template <int Size>
void fft_butterflies(std::array<Complex, Size>& z, const std::array<Complex, Size / 2>& twiddles) {
    for (int m = 2; m <= Size; m *= 2) {
        const int half = m / 2;
        const int stride = Size / m;
        for (int base = 0; base < Size; base += m) {
            for (int j = 0; j < half; ++j) {
                const Complex w = twiddles[static_cast<std::size_t>(j * stride)];
                Complex& a = z[static_cast<std::size_t>(base + j)];
                Complex& b = z[static_cast<std::size_t>(base + j + half)];
                const Complex t{w.re * b.re - w.im * b.im, w.re * b.im + w.im * b.re};
                b = {a.re - t.re, a.im - t.im};
                a = {a.re + t.re, a.im + t.im};
            }
        }
    }
}

template <int Size>
std::array<double, Size / 2> dct_iv(const std::array<double, Size / 2>& r, const DctIvTables<Size>& tables,
                                    const std::array<uint16_t, Size / 2>& bit_reversal) {
    std::array<Complex, Size> z{};
    for (std::size_t n = 0; n < Size / 2; ++n) {
        const Complex pre = tables.pre_twiddles[n];
        z[bit_reversal[n]] = {r[n] * pre.re, r[n] * pre.im};
    }
    fft_butterflies<Size>(z, tables.fft_twiddles);
    std::array<double, Size / 2> y{};
    for (std::size_t k = 0; k < Size / 2; ++k) {
        const Complex post = tables.post_twiddles[k];
        y[k] = z[k].re * post.re - z[k].im * post.im;
    }
    return y;
}

// One half of the short pair: the 256 windowed samples of that half.
std::array<double, 256> window_half(MdctInput samples, int half) {
    std::array<double, 256> s{};
    for (int n = 0; n < 256; ++n) {
        const int at = 256 * half + n;
        s[static_cast<std::size_t>(n)] = mdct_window(at) * samples[static_cast<std::size_t>(at)];
    }
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
    std::array<double, 512> xw{};
    for (int n = 0; n < 512; ++n) {
        const auto i = static_cast<std::size_t>(n);
        xw[i] = mdct_window(n) * samples[i];
    }
    // Fold the 512 windowed samples into the 256 inputs of a DCT-IV.
    std::array<double, 256> u{};
    for (std::size_t n = 0; n < 128; ++n) {
        u[n] = -xw[383 - n] - xw[384 + n];
        u[128 + n] = xw[n] - xw[255 - n];
    }
    const std::array<double, 256> y = dct_iv<512>(u, long_tables(), kLongBitReversal);
    MdctOutput out{};
    for (std::size_t k = 0; k < 256; ++k) out[k] = -(1.0 / 256.0) * y[k];
    return out;
}

MdctOutput mdct_short_pair_fast(MdctInput samples) {
    const DctIvTables<256>& tables = short_tables();
    MdctOutput out{};
    for (int half = 0; half < 2; ++half) {
        const std::array<double, 256> s = window_half(samples, half);
        std::array<double, 128> r{};
        if (half == 0) {
            // alpha = -1: the odd symmetry of the kernel folds s into r directly.
            for (std::size_t j = 0; j < 128; ++j) r[j] = s[j] - s[255 - j];
        } else {
            // alpha = +1: the kernel's extra quarter turn per (2k + 1) turns the
            // even fold into a DCT-IV of the reversed sums.
            std::array<double, 128> v{};
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
