#include "dsp/matrix_decode.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace oskavi {
namespace {

constexpr double kSqrt2 = 1.4142135623730951;

// Target gain from the correlation: nothing between -0.3 and 0.3, full
// steering at +-1.
double steer_target(double correlation) { return std::clamp((correlation - 0.3) / 0.7, 0.0, 1.0); }

// One-pole follower with an 18 ms attack and a 140 ms release.
double follow(double current, double target, double sample_rate) {
    const double tau = (target > current ? 0.018 : 0.14) * sample_rate;
    const double k = std::exp(-1.0 / tau);
    return (1.0 - k) * target + k * current;
}

}  // namespace

MatrixSteeringState init_matrix_steering(uint32_t sample_rate) {
    if (sample_rate == 0) throw std::runtime_error("matrix steering requires a valid sample rate");
    MatrixSteeringState state;
    state.sample_rate = sample_rate;
    state.smoothing = std::exp(-1.0 / (static_cast<double>(sample_rate) * 0.02));
    return state;
}

SteeredSample steer_sample(MatrixSteeringState& s, double l, double r) {
    const double a = s.smoothing;
    s.e_ll = (1.0 - a) * l * l + a * s.e_ll;
    s.e_lr = (1.0 - a) * l * r + a * s.e_lr;
    s.e_rr = (1.0 - a) * r * r + a * s.e_rr;
    const double rho = std::clamp(s.e_lr / std::sqrt(std::max(s.e_ll * s.e_rr, 1e-24)), -1.0, 1.0);
    const double balance = std::fabs((s.e_ll - s.e_rr) / std::max(s.e_ll + s.e_rr, 1e-24));
    const double weight = std::clamp(1.0 - balance, 0.0, 1.0);
    s.centre = follow(s.centre, steer_target(rho) * weight, s.sample_rate);
    s.surround = follow(s.surround, steer_target(-rho) * weight, s.sample_rate);
    s.stats.max_centre_steer = std::max(s.stats.max_centre_steer, s.centre);
    s.stats.max_surround_steer = std::max(s.stats.max_surround_steer, s.surround);
    const double m = (l + r) * 0.5;
    const double d = (l - r) * 0.5;
    SteeredSample out;
    out.centre = s.centre * kSqrt2 * m;
    out.surround = s.surround * d;
    out.left = l - s.centre * m - out.surround;
    out.right = r - s.centre * m + out.surround;
    return out;
}

void check_matrix_source(uint32_t channels, ChannelLayout layout) {
    if (channels != 2 || layout != ChannelLayout::Stereo)
        throw std::runtime_error("--matrix-decode requires 2-channel stereo input");
}

void check_matrix_rear_delay(double rear_delay_ms) {
    if (!std::isfinite(rear_delay_ms) || rear_delay_ms < 0.0 || rear_delay_ms > 40.0)
        throw std::runtime_error("matrix rear delay must be within 0..40 ms");
}

void check_matrix_bass_mode(const PreprocessSettings& options) {
    if (options.bass_mode == BassMode::GenerateLfe)
        throw std::runtime_error(
            "--matrix-decode does not use --generate-lfe; use --bass-management to redirect bass into .1");
}

uint64_t matrix_rear_delay_frames(uint32_t sample_rate, double rear_delay_ms) {
    return static_cast<uint64_t>(std::llround(static_cast<double>(sample_rate) * rear_delay_ms / 1000.0));
}

PcmBuffer matrix_decode(const PcmBuffer& stereo, double rear_delay_ms, MatrixDecodeStats* stats) {
    if (stereo.channels != 2 || stereo.layout != ChannelLayout::Stereo)
        throw std::runtime_error("matrix decode requires canonical 2-channel stereo input");
    if (stereo.sample_rate == 0) throw std::runtime_error("matrix decode requires a valid sample rate");
    check_matrix_rear_delay(rear_delay_ms);
    const uint64_t delay = matrix_rear_delay_frames(stereo.sample_rate, rear_delay_ms);
    const uint64_t frames = stereo.frame_count();
    PcmBuffer out{stereo.sample_rate, 6, ChannelLayout::Surround51, {}};
    out.samples.assign((frames + delay) * 6, 0.0f);
    MatrixSteeringState state = init_matrix_steering(stereo.sample_rate);
    float peak = 0.0f;
    for (uint64_t i = 0; i < frames; ++i) {
        const SteeredSample v = steer_sample(state, stereo.samples[2 * i], stereo.samples[2 * i + 1]);
        float* frame = &out.samples[i * 6];
        frame[0] = static_cast<float>(v.left);
        frame[1] = static_cast<float>(v.right);
        frame[2] = static_cast<float>(v.centre);
        const auto surround = static_cast<float>(v.surround);
        out.samples[(i + delay) * 6 + 4] = surround;
        out.samples[(i + delay) * 6 + 5] = surround;
        peak = std::max({peak, std::fabs(frame[0]), std::fabs(frame[1]), std::fabs(frame[2]), std::fabs(surround)});
    }
    if (peak > 1.0f) {
        // Unconditional normalisation of the whole bed, whatever the peak guard says.
        const float scale = 1.0f / peak;
        for (float& sample : out.samples) sample *= scale;
    }
    if (stats != nullptr) {
        stats->max_centre_steer = state.stats.max_centre_steer;
        stats->max_surround_steer = state.stats.max_surround_steer;
        stats->rear_delay_ms = rear_delay_ms;
    }
    return out;
}

}  // namespace oskavi
