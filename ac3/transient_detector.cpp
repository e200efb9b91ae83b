#include "ac3/transient_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

namespace {

// Below this peak (100 / 32768 of full scale) the block's half counts as
// silent and is never switched, however loud the previous half was.
constexpr double kSilenceThreshold = 0.0030517578125;

struct Biquad {
    double b0, b1, b2, a1, a2;
};

constexpr Biquad kHighpassStage1{0.1898458146, -0.3796916292, 0.1898458146, -0.0391634096, 0.170472307};
constexpr Biquad kHighpassStage2{1.0, -2.0, 1.0, -0.9131127104, 0.7467939683};

struct Level {
    std::size_t segment;
    double threshold;
};

constexpr std::array<Level, 3> kHierarchicalLevels{{{256, 0.1}, {128, 0.075}, {64, 0.05}}};
constexpr double kHierarchicalPeakFloor = 1e-15;

constexpr std::array<Level, 2> kLegacySegmentLevels{{{64, 0.075}, {32, 0.05}}};
constexpr double kLegacyWholeThreshold = 0.1;
constexpr double kLegacyPeakFloor = 1e-12;

// Transposed direct form II, zero initial state.
void run_biquad(const Biquad& q, std::array<double, 512>& x) {
    double s1 = 0.0;
    double s2 = 0.0;
    for (double& value : x) {
        const double in = value;
        const double out = q.b0 * in + s1;
        s1 = q.b1 * in - q.a1 * out + s2;
        s2 = q.b2 * in - q.a2 * out;
        value = out;
    }
}

// One step of a biquad in transposed direct form II.
struct BiquadState {
    double s1 = 0.0;
    double s2 = 0.0;

    double step(const Biquad& q, double in) {
        const double out = q.b0 * in + s1;
        s1 = q.b1 * in - q.a1 * out + s2;
        s2 = q.b2 * in - q.a2 * out;
        return out;
    }
};

// The two-stage high-pass in one pass: stage 2 takes each stage-1 output as
// it comes, which is what running the stages one after the other computes.
void run_highpass_cascade(TransientInput samples, std::array<double, 512>& y) {
    BiquadState first;
    BiquadState second;
    for (std::size_t n = 0; n < 512; ++n) y[n] = second.step(kHighpassStage2, first.step(kHighpassStage1, samples[n]));
}

// Largest |y[n]| for n in [first, end), from 0.0. Four interleaved running
// maxima keep the comparisons independent; max is exact in any order.
double peak(const std::array<double, 512>& y, std::size_t first, std::size_t end) {
    std::array<double, 4> largest{};
    std::size_t n = first;
    for (; n + 4 <= end; n += 4) {
        for (std::size_t k = 0; k < 4; ++k) largest[k] = std::max(largest[k], std::fabs(y[n + k]));
    }
    for (; n < end; ++n) largest[0] = std::max(largest[0], std::fabs(y[n]));
    return std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
}

// Peaks of the eight 64-sample segments of a filtered block.
using SegmentPeaks = std::array<double, 8>;

// The hierarchical test from the segment peaks; the peak of a longer segment
// is the largest of its 64-sample peaks (max neither rounds nor reorders).
bool hierarchical_verdict(const SegmentPeaks& peak64) {
    const auto peak_of = [&peak64](std::size_t first, std::size_t end) {
        double largest = 0.0;
        for (std::size_t s = first / 64; s < end / 64; ++s) largest = std::max(largest, peak64[s]);
        return largest;
    };
    if (peak_of(256, 512) < kSilenceThreshold) return false;
    for (const Level& level : kHierarchicalLevels) {
        // Start from the last segment of the same length in the previous half.
        double previous = peak_of(256 - level.segment, 256);
        for (std::size_t start = 256; start < 512; start += level.segment) {
            const double current = peak_of(start, start + level.segment);
            if (level.threshold * current > std::max(kHierarchicalPeakFloor, previous)) return true;
            previous = current;
        }
    }
    return false;
}

bool hierarchical_verdict(const std::array<double, 512>& y) {
    SegmentPeaks peak64;
    for (std::size_t s = 0; s < 8; ++s) peak64[s] = peak(y, 64 * s, 64 * s + 64);
    return hierarchical_verdict(peak64);
}

// The cascades of `Lanes` inputs in one loop, sample n of every lane side by
// side in memory: the filters are independent, so their recursions overlap
// (and pair up in vector registers) instead of waiting on one another. Each
// lane computes exactly what run_highpass_cascade computes for its input.
// Returns each lane's 64-sample segment peaks.
template <std::size_t Lanes>
[[gnu::always_inline]] inline std::array<SegmentPeaks, Lanes> filter_side_by_side(
    std::span<const TransientInput> inputs) {
    using Row = std::array<double, Lanes>;
    std::array<Row, 512> x;
    for (std::size_t l = 0; l < Lanes; ++l) {
        for (std::size_t n = 0; n < 512; ++n) x[n][l] = inputs[l][n];
    }
    const Biquad& p = kHighpassStage1;
    const Biquad& q = kHighpassStage2;
    std::array<Row, 512> y;
    Row s1{}, s2{}, t1{}, t2{};
    for (std::size_t n = 0; n < 512; ++n) {
        Row mid;
        for (std::size_t l = 0; l < Lanes; ++l) {
            mid[l] = p.b0 * x[n][l] + s1[l];
            s1[l] = p.b1 * x[n][l] - p.a1 * mid[l] + s2[l];
            s2[l] = p.b2 * x[n][l] - p.a2 * mid[l];
        }
        for (std::size_t l = 0; l < Lanes; ++l) {
            y[n][l] = q.b0 * mid[l] + t1[l];
            t1[l] = q.b1 * mid[l] - q.a1 * y[n][l] + t2[l];
            t2[l] = q.b2 * mid[l] - q.a2 * y[n][l];
        }
    }
    std::array<std::array<Row, 4>, 8> peaks{};  // [segment][interleaved maximum][lane]
    for (std::size_t n = 0; n < 512; ++n) {
        Row& running = peaks[n / 64][n % 4];
        for (std::size_t l = 0; l < Lanes; ++l) running[l] = std::max(running[l], std::fabs(y[n][l]));
    }
    std::array<SegmentPeaks, Lanes> lane_peaks;
    for (std::size_t l = 0; l < Lanes; ++l) {
        for (std::size_t s = 0; s < 8; ++s) {
            const auto& m = peaks[s];
            lane_peaks[l][s] = std::max(std::max(m[0][l], m[1][l]), std::max(m[2][l], m[3][l]));
        }
    }
    return lane_peaks;
}

// Eight lanes in two 256-bit registers where the processor has AVX2: the
// recursions are bound by the latency of their multiply-add chains, so twice
// the lanes cost hardly more time. Four samples of four lanes are loaded and
// transposed in registers, filtered and folded into the running segment
// peaks at once, so no sample is stored on the way. AVX2 multiplies and adds
// round exactly as the SSE2 or scalar ones do, in the same order (nothing is
// contracted into a fused multiply-add), and max is exact in any order, so
// every lane's peaks are those of filter_side_by_side. The function calls
// nothing, so the compiler clears the upper register halves on its return,
// before SSE code runs again (SSE code running with them dirty is slowed
// throughout).
#if OSKAVI_AVX2_KERNELS
struct CascadeLanes {
    __m256d s1, s2, t1, t2;  // stage-1 and stage-2 states of four lanes
    __m256d peak;            // of the current 64-sample segment
};

OSKAVI_AVX2_INLINE __m256d times(double k, __m256d v) { return _mm256_mul_pd(_mm256_set1_pd(k), v); }

OSKAVI_AVX2_INLINE void cascade_step(CascadeLanes& c, __m256d x) {
    const Biquad& p = kHighpassStage1;
    const Biquad& q = kHighpassStage2;
    const __m256d mid = _mm256_add_pd(times(p.b0, x), c.s1);
    c.s1 = _mm256_add_pd(_mm256_sub_pd(times(p.b1, x), times(p.a1, mid)), c.s2);
    c.s2 = _mm256_sub_pd(times(p.b2, x), times(p.a2, mid));
    const __m256d y = _mm256_add_pd(times(q.b0, mid), c.t1);
    c.t1 = _mm256_add_pd(_mm256_sub_pd(times(q.b1, mid), times(q.a1, y)), c.t2);
    c.t2 = _mm256_sub_pd(times(q.b2, mid), times(q.a2, y));
    // |y| by clearing the sign; a NaN output leaves the peak as it was, as std::max does.
    c.peak = _mm256_max_pd(_mm256_andnot_pd(_mm256_set1_pd(-0.0), y), c.peak);
}

// Samples n..n + 3 of lanes first..first + 3, filtered.
OSKAVI_AVX2_INLINE void cascade_four(CascadeLanes& c, std::span<const TransientInput> inputs, std::size_t first,
                                     std::size_t n) {
    const __m256d r0 = _mm256_loadu_pd(inputs[first].data() + n);
    const __m256d r1 = _mm256_loadu_pd(inputs[first + 1].data() + n);
    const __m256d r2 = _mm256_loadu_pd(inputs[first + 2].data() + n);
    const __m256d r3 = _mm256_loadu_pd(inputs[first + 3].data() + n);
    const __m256d even01 = _mm256_unpacklo_pd(r0, r1);  // samples 0 and 2 of lanes 0, 1
    const __m256d odd01 = _mm256_unpackhi_pd(r0, r1);
    const __m256d even23 = _mm256_unpacklo_pd(r2, r3);
    const __m256d odd23 = _mm256_unpackhi_pd(r2, r3);
    cascade_step(c, _mm256_permute2f128_pd(even01, even23, 0x20));
    cascade_step(c, _mm256_permute2f128_pd(odd01, odd23, 0x20));
    cascade_step(c, _mm256_permute2f128_pd(even01, even23, 0x31));
    cascade_step(c, _mm256_permute2f128_pd(odd01, odd23, 0x31));
}

template <std::size_t Groups>
OSKAVI_AVX2_INLINE std::array<SegmentPeaks, 4 * Groups> filter_groups_avx2(std::span<const TransientInput> inputs) {
    std::array<CascadeLanes, Groups> lanes{};
    std::array<SegmentPeaks, 4 * Groups> peaks;
    for (std::size_t segment = 0; segment < 8; ++segment) {
        for (CascadeLanes& c : lanes) c.peak = _mm256_setzero_pd();
        for (std::size_t n = 64 * segment; n < 64 * segment + 64; n += 4) {
            for (std::size_t g = 0; g < Groups; ++g) cascade_four(lanes[g], inputs, 4 * g, n);
        }
        alignas(32) std::array<double, 4 * Groups> segment_peaks;
        for (std::size_t g = 0; g < Groups; ++g) _mm256_store_pd(segment_peaks.data() + 4 * g, lanes[g].peak);
        for (std::size_t l = 0; l < 4 * Groups; ++l) peaks[l][segment] = segment_peaks[l];
    }
    return peaks;
}

// Eight lanes, or twelve: three groups keep the vector units busy where two
// leave them waiting on the recursions, and a stereo frame's twelve inputs
// then take one pass.
OSKAVI_AVX2 std::array<SegmentPeaks, 8> filter_eight_avx2(std::span<const TransientInput> inputs) {
    return filter_groups_avx2<2>(inputs);
}

OSKAVI_AVX2 std::array<SegmentPeaks, 12> filter_twelve_avx2(std::span<const TransientInput> inputs) {
    return filter_groups_avx2<3>(inputs);
}
#else
std::array<SegmentPeaks, 8> filter_eight_avx2(std::span<const TransientInput> inputs) {
    return filter_side_by_side<8>(inputs);
}
std::array<SegmentPeaks, 12> filter_twelve_avx2(std::span<const TransientInput> inputs) {
    return filter_side_by_side<12>(inputs);
}
#endif

template <std::size_t Lanes>
void verdicts_from(const std::array<SegmentPeaks, Lanes>& peaks, std::span<bool> verdicts) {
    for (std::size_t l = 0; l < Lanes; ++l) verdicts[l] = hierarchical_verdict(peaks[l]);
}

void detect_batches(std::span<const TransientInput> inputs, std::span<bool> verdicts, bool vector_kernel) {
    std::size_t i = 0;
    if (vector_kernel) {
        // Eight at a time; a last group of three to seven is filled up with
        // silent lanes (whose verdicts are dropped), which costs no more
        // than the narrower kernels would.
        static constexpr std::array<double, 512> kSilentLane{};
        const auto run = [&]<std::size_t Width>(auto kernel) {
            const std::size_t taken = std::min<std::size_t>(Width, inputs.size() - i);
            std::array<TransientInput, Width> lanes = repeated_input<Width>(kSilentLane);
            std::copy_n(inputs.begin() + static_cast<std::ptrdiff_t>(i), taken, lanes.begin());
            const std::array<SegmentPeaks, Width> peaks = kernel(lanes);
            for (std::size_t l = 0; l < taken; ++l) verdicts[i + l] = hierarchical_verdict(peaks[l]);
            i += taken;
        };
        while (inputs.size() - i >= 9) run.template operator()<12>(filter_twelve_avx2);
        while (inputs.size() - i >= 3) run.template operator()<8>(filter_eight_avx2);
    }
    for (; i + 4 <= inputs.size(); i += 4) {
        verdicts_from(filter_side_by_side<4>(inputs.subspan(i, 4)), verdicts.subspan(i, 4));
    }
    for (; i + 2 <= inputs.size(); i += 2) {
        verdicts_from(filter_side_by_side<2>(inputs.subspan(i, 2)), verdicts.subspan(i, 2));
    }
    for (; i < inputs.size(); ++i) verdicts[i] = detect_transient(inputs[i]);
}

}  // namespace

std::array<double, 512> transient_highpass(TransientInput samples) {
    std::array<double, 512> y{};
    std::copy(samples.begin(), samples.end(), y.begin());
    run_biquad(kHighpassStage1, y);
    run_biquad(kHighpassStage2, y);
    return y;
}

bool detect_transient(TransientInput samples) {
    std::array<double, 512> y;
    run_highpass_cascade(samples, y);
    return hierarchical_verdict(y);
}

void detect_transients(std::span<const TransientInput> inputs, std::span<bool> verdicts) {
    detect_batches(inputs, verdicts, processor_has_avx2());
}

void detect_transients_plain(std::span<const TransientInput> inputs, std::span<bool> verdicts) {
    detect_batches(inputs, verdicts, false);
}

bool detect_transient_legacy(TransientInput samples) {
    // y[n] = 0.35 (y[n-1] + x[n] - x[n-1]), x[-1] = y[-1] = 0.
    std::array<double, 512> y{};
    double previous_in = 0.0;
    double previous_out = 0.0;
    for (std::size_t n = 0; n < 512; ++n) {
        previous_out = 0.35 * (previous_out + samples[n] - previous_in);
        previous_in = samples[n];
        y[n] = previous_out;
    }
    const double block_peak = peak(y, 256, 512);
    if (block_peak < kSilenceThreshold) return false;
    if (kLegacyWholeThreshold * block_peak > std::max(kLegacyPeakFloor, peak(y, 128, 256))) return true;
    for (const Level& level : kLegacySegmentLevels) {
        double previous = peak(y, 256 - level.segment, 256);
        for (std::size_t start = 256; start < 512; start += level.segment) {
            const double current = peak(y, start, std::min<std::size_t>(start + level.segment, 512));
            if (level.threshold * current > std::max(kLegacyPeakFloor, previous)) return true;
            previous = current;
        }
    }
    return false;
}

}  // namespace oskavi
