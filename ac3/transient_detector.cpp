#include "ac3/transient_detector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

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

// Largest |y[n]| for n in [first, end).
double peak(const std::array<double, 512>& y, std::size_t first, std::size_t end) {
    double largest = 0.0;
    for (std::size_t n = first; n < end; ++n) largest = std::max(largest, std::fabs(y[n]));
    return largest;
}

// The hierarchical test on the filtered block: the peaks of the eight
// 64-sample segments, the longer segments' peaks being the largest of theirs
// (max neither rounds nor reorders anything).
bool hierarchical_verdict(const std::array<double, 512>& y) {
    std::array<double, 8> peak64;
    for (std::size_t s = 0; s < 8; ++s) peak64[s] = peak(y, 64 * s, 64 * s + 64);
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

// The cascade of `Lanes` inputs in one loop: the filters are independent,
// so their recursions overlap instead of waiting on one another.
template <std::size_t Lanes>
void detect_side_by_side(std::span<const TransientInput> inputs, std::span<bool> verdicts) {
    std::array<BiquadState, Lanes> first{};
    std::array<BiquadState, Lanes> second{};
    std::array<std::array<double, 512>, Lanes> y;
    for (std::size_t n = 0; n < 512; ++n) {
        for (std::size_t l = 0; l < Lanes; ++l)
            y[l][n] = second[l].step(kHighpassStage2, first[l].step(kHighpassStage1, inputs[l][n]));
    }
    for (std::size_t l = 0; l < Lanes; ++l) verdicts[l] = hierarchical_verdict(y[l]);
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
    std::size_t i = 0;
    for (; i + 4 <= inputs.size(); i += 4) detect_side_by_side<4>(inputs.subspan(i, 4), verdicts.subspan(i, 4));
    for (; i + 2 <= inputs.size(); i += 2) detect_side_by_side<2>(inputs.subspan(i, 2), verdicts.subspan(i, 2));
    for (; i < inputs.size(); ++i) verdicts[i] = detect_transient(inputs[i]);
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
