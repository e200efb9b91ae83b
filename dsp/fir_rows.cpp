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

typedef float FloatLanes __attribute__((vector_size(16)));

// Each lane rounded to float (as a cast does), at out[i * stride]; side by
// side where the outputs are (the half-band stages write every output).
[[gnu::always_inline]] inline void store(float* out, size_t stride, Lanes v) {
    if (stride == 1) {
        const FloatLanes f = __builtin_convertvector(v, FloatLanes);
        std::memcpy(out, &f, sizeof f);
        return;
    }
    for (int i = 0; i < 4; ++i) out[i * stride] = static_cast<float>(v[i]);
}

// Thirty-two outputs per pass over the taps (eight sums in flight: enough to
// hide the latency of the adds), then sixteen, eight, four, then the rest one
// at a time.
[[gnu::always_inline]] inline void fir_rows_body(const FirRun& run, size_t count, float* out, size_t stride) {
    const double* const* rows = run.rows.data();
    const double* taps = run.taps.data();
    const size_t tap_count = run.taps.size();
    size_t n = 0;
    for (; n + 32 <= count; n += 32) {
        Lanes sums[8] = {};
        for (size_t r = 0; r < tap_count; ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            const double* row = rows[r] + run.column + n;
            for (int k = 0; k < 8; ++k) sums[k] += h * load(row + 4 * k);
        }
        for (int k = 0; k < 8; ++k) store(out + (n + 4 * k) * stride, stride, sums[k]);
    }
    for (; n + 16 <= count; n += 16) {
        Lanes a = {0.0, 0.0, 0.0, 0.0};
        Lanes b = a, c = a, d = a;
        for (size_t r = 0; r < tap_count; ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            const double* row = rows[r] + run.column + n;
            a += h * load(row);
            b += h * load(row + 4);
            c += h * load(row + 8);
            d += h * load(row + 12);
        }
        store(out + n * stride, stride, a);
        store(out + (n + 4) * stride, stride, b);
        store(out + (n + 8) * stride, stride, c);
        store(out + (n + 12) * stride, stride, d);
    }
    for (; n + 8 <= count; n += 8) {
        Lanes low = {0.0, 0.0, 0.0, 0.0};
        Lanes high = low;
        for (size_t r = 0; r < tap_count; ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            const double* row = rows[r] + run.column + n;
            low += h * load(row);
            high += h * load(row + 4);
        }
        store(out + n * stride, stride, low);
        store(out + (n + 4) * stride, stride, high);
    }
    for (; n + 4 <= count; n += 4) {
        Lanes sum = {0.0, 0.0, 0.0, 0.0};
        for (size_t r = 0; r < tap_count; ++r) {
            const Lanes h = {taps[r], taps[r], taps[r], taps[r]};
            sum += h * load(rows[r] + run.column + n);
        }
        store(out + n * stride, stride, sum);
    }
    for (; n < count; ++n) {
        double y = 0.0;
        for (size_t r = 0; r < tap_count; ++r) y += taps[r] * rows[r][run.column + n];
        out[n * stride] = static_cast<float>(y);
    }
}

}  // namespace

void fir_rows_plain(const FirRun& run, size_t count, float* out, size_t stride) {
    fir_rows_body(run, count, out, stride);
}

#if OSKAVI_AVX2_KERNELS
OSKAVI_AVX2 void fir_rows_avx2(const FirRun& run, size_t count, float* out, size_t stride) {
    fir_rows_body(run, count, out, stride);
}
#else
void fir_rows_avx2(const FirRun& run, size_t count, float* out, size_t stride) {
    fir_rows_body(run, count, out, stride);
}
#endif

void fir_rows(const FirRun& run, size_t count, float* out, size_t stride) {
    if (processor_has_avx2())
        fir_rows_avx2(run, count, out, stride);
    else
        fir_rows_plain(run, count, out, stride);
}

}  // namespace oskavi
