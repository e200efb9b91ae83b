#include "ac3/transient_detector.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <random>

namespace oskavi {
namespace {

using Block = std::array<double, 512>;

// Samples [from, 512) carry a sine starting at phase 0 whose amplitude is
// `amplitude(n)`; the rest is silent.
template <typename Amplitude>
Block sine(double frequency, int from, Amplitude amplitude) {
    Block x{};
    for (int n = from; n < 512; ++n)
        x[static_cast<std::size_t>(n)] = amplitude(n) * std::sin(2.0 * std::numbers::pi * frequency * (n - from) / 48000.0);
    return x;
}
Block steady(double frequency) { return sine(frequency, 0, [](int) { return 1.0; }); }
Block onset(double frequency, double amplitude) { return sine(frequency, 256, [=](int) { return amplitude; }); }

TEST(TransientDetector, BothDetectorsSwitchOnAttacksOnly) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    Block loud_then_silent{};
    for (std::size_t n = 0; n < 256; ++n) loud_then_silent[n] = noise(rng);
    // Loud previous half, a faint stretch, then a burst in the last 64
    // samples that is quieter than the previous half: only the comparison of
    // short segments inside the block can find it.
    const auto late_burst = [](double burst) {
        return sine(10000.0, 0, [=](int n) { return n < 256 ? 0.1 : (n < 448 ? 0.001 : burst); });
    };
    const struct {
        const char* name;
        Block samples;
        bool attack;
    } cases[] = {
        {"1 kHz onset after silence", onset(1000.0, 1.0), true},
        {"10 kHz onset after silence", onset(10000.0, 1.0), true},
        {"steady 1 kHz", steady(1000.0), false},
        {"steady 10 kHz", steady(10000.0), false},
        {"silence", Block{}, false},
        {"loud noise, then silence", loud_then_silent, false},
        // Filtered, this onset stays under the silence threshold; ten times louder it is an attack.
        {"faint onset", onset(10000.0, 0.0015), false},
        {"quiet onset", onset(10000.0, 0.015), true},
        {"late burst", late_burst(0.5), true},
        {"late faint stretch", late_burst(0.001), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detect_transient(c.samples), c.attack) << c.name;
        EXPECT_EQ(detect_transient_legacy(c.samples), c.attack) << c.name;
    }
}

}  // namespace
}  // namespace oskavi
