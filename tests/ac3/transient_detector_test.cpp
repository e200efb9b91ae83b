#include "ac3/transient_detector.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace oskavi {
namespace {

using Block = std::array<double, 512>;

constexpr double kSampleRate = 48000.0;
constexpr double kSilence = 0.0030517578125;

double sine(double frequency, double amplitude, int n) {
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency * n / kSampleRate);
}

Block steady_sine(double frequency, double amplitude) {
    Block x{};
    for (int n = 0; n < 512; ++n) x[static_cast<std::size_t>(n)] = sine(frequency, amplitude, n);
    return x;
}

// Silence for the previous half, then a sine starting at the block's first sample.
Block sine_onset(double frequency, double amplitude) {
    Block x{};
    for (int n = 256; n < 512; ++n) x[static_cast<std::size_t>(n)] = sine(frequency, amplitude, n - 256);
    return x;
}

// Amplitude of the filter's steady-state response: sqrt(2 * mean square)
// over the last 240 samples, a whole number of periods of 1, 8 and 16 kHz.
double highpass_gain(double frequency) {
    const Block y = transient_highpass(steady_sine(frequency, 1.0));
    double energy = 0.0;
    for (std::size_t n = 272; n < 512; ++n) energy += y[n] * y[n];
    return std::sqrt(2.0 * energy / 240.0);
}

double second_half_peak(const Block& y) {
    double peak = 0.0;
    for (std::size_t n = 256; n < 512; ++n) peak = std::max(peak, std::fabs(y[n]));
    return peak;
}

TEST(TransientDetector, HighpassPassesEightKilohertzAndRejectsOneKilohertz) {
    EXPECT_NEAR(highpass_gain(8000.0), 0.944, 0.001);
    EXPECT_NEAR(highpass_gain(16000.0), 1.0, 0.01);
    const double low = highpass_gain(1000.0);
    EXPECT_GT(low, 3e-5);
    EXPECT_LT(low, 1.5e-4);
}

TEST(TransientDetector, SineStartingAfterSilenceSwitchesBothDetectors) {
    for (double frequency : {1000.0, 10000.0}) {
        const Block x = sine_onset(frequency, 1.0);
        EXPECT_TRUE(detect_transient(x)) << frequency;
        EXPECT_TRUE(detect_transient_legacy(x)) << frequency;
    }
}

TEST(TransientDetector, SteadySineSwitchesNeither) {
    for (double frequency : {1000.0, 10000.0}) {
        const Block x = steady_sine(frequency, 1.0);
        EXPECT_FALSE(detect_transient(x)) << frequency;
        EXPECT_FALSE(detect_transient_legacy(x)) << frequency;
    }
}

TEST(TransientDetector, QuietBlockIsNeverSwitchedWhateverPrecedesIt) {
    EXPECT_FALSE(detect_transient(Block{}));
    EXPECT_FALSE(detect_transient_legacy(Block{}));

    // Loud noise before the block, silence in it.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    Block loud_then_silent{};
    for (std::size_t n = 0; n < 256; ++n) loud_then_silent[n] = noise(rng);
    EXPECT_FALSE(detect_transient(loud_then_silent));
    EXPECT_FALSE(detect_transient_legacy(loud_then_silent));

    // An onset after silence that would switch at full scale, but so faint
    // that the filtered block stays under the silence threshold.
    const Block faint_onset = sine_onset(10000.0, 0.0015);
    ASSERT_LT(second_half_peak(transient_highpass(faint_onset)), kSilence);
    EXPECT_FALSE(detect_transient(faint_onset));
    EXPECT_FALSE(detect_transient_legacy(faint_onset));
    // The same onset ten times louder is an attack.
    EXPECT_TRUE(detect_transient(sine_onset(10000.0, 0.015)));
    EXPECT_TRUE(detect_transient_legacy(sine_onset(10000.0, 0.015)));
}

// Loud previous half, a faint stretch, then a burst in the last 64 samples:
// the burst is quieter than the previous half, so only the comparison of
// short segments inside the block can find it.
Block late_burst(double burst_amplitude) {
    Block x{};
    for (int n = 0; n < 512; ++n) {
        const double amplitude = n < 256 ? 0.1 : (n < 448 ? 0.001 : burst_amplitude);
        x[static_cast<std::size_t>(n)] = sine(10000.0, amplitude, n);
    }
    return x;
}

TEST(TransientDetector, BurstQuieterThanThePreviousHalfIsFoundByShortSegments) {
    EXPECT_TRUE(detect_transient(late_burst(0.5)));
    EXPECT_TRUE(detect_transient_legacy(late_burst(0.5)));
    EXPECT_FALSE(detect_transient(late_burst(0.001)));
    EXPECT_FALSE(detect_transient_legacy(late_burst(0.001)));
}

}  // namespace
}  // namespace oskavi
