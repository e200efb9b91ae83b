#include "dsp/fir_rows.h"

#include <cstring>

#include "platform/processor_features.h"

// The helpers below pass 32-byte vectors by value; they are always inlined,
// so the calling convention the warning is about never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace oskavi {
namespace {

// Four doubles side by side: element-wise IEEE multiply and add, no
// contraction (the build keeps -ffp-contract=off), so each lane is one
// output's running sum.
typedef double Lanes __attribute__((vector_size(32)));

[[gnu::always_inline]] inline Lanes load(const double* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void store(float* out, Lanes v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<float>(v[i]);
}

// Sixteen outputs per pass over the taps, then eight, then four, then the
// rest one at a time.
[[gnu::always_inline]] inline void fir_rows_body(std::span<const double* const> rows, std::span<const double> taps,
                                                 std::span<float> out) {
    const size_t count = out.size();
    size_t n = 0;
    for (; n + 16 <= count; n += 16) {
        Lanes a = {0.0, 0.0, 0.0, 0.0};
        Lanes b = a, c = a, d = a;
        for (size_t r = 0; r < taps.size(); ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            const double* row = rows[r] + n;
            a += h * load(row);
            b += h * load(row + 4);
            c += h * load(row + 8);
            d += h * load(row + 12);
        }
        store(&out[n], a);
        store(&out[n + 4], b);
        store(&out[n + 8], c);
        store(&out[n + 12], d);
    }
    for (; n + 8 <= count; n += 8) {
        Lanes low = {0.0, 0.0, 0.0, 0.0};
        Lanes high = low;
        for (size_t r = 0; r < taps.size(); ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            low += h * load(rows[r] + n);
            high += h * load(rows[r] + n + 4);
        }
        store(&out[n], low);
        store(&out[n + 4], high);
    }
    for (; n + 4 <= count; n += 4) {
        Lanes sum = {0.0, 0.0, 0.0, 0.0};
        for (size_t r = 0; r < taps.size(); ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            sum += h * load(rows[r] + n);
        }
        store(&out[n], sum);
    }
    for (; n < count; ++n) {
        double y = 0.0;
        for (size_t r = 0; r < taps.size(); ++r) y += taps[r] * rows[r][n];
        out[n] = static_cast<float>(y);
    }
}

}  // namespace

void fir_rows_plain(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out) {
    fir_rows_body(rows, taps, out);
}

#if OSKAVI_AVX2_KERNELS
OSKAVI_AVX2 void fir_rows_avx2(std::span<const double* const> rows, std::span<const double> taps,
                               std::span<float> out) {
    fir_rows_body(rows, taps, out);
}
#else
void fir_rows_avx2(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out) {
    fir_rows_body(rows, taps, out);
}
#endif

void fir_rows(std::span<const double* const> rows, std::span<const double> taps, std::span<float> out) {
    if (processor_has_avx2())
        fir_rows_avx2(rows, taps, out);
    else
        fir_rows_plain(rows, taps, out);
}

}  // namespace oskavi
