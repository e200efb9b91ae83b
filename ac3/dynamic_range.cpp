#include "ac3/dynamic_range.h"

#include <algorithm>
#include <cmath>

namespace oskavi {
namespace {

// A profile's static curve in dB of programme level, for dialogue at
// -31 dBFS. Below `null_low` the gain rises at `boost_ratio` up to
// `max_boost`; the null band gives 0 dB; above `null_high` an optional early
// cut at 2:1 runs to `early_cut_end`, then the cut at `cut_ratio` (continued
// beyond its nominal end).
struct DrcCurve {
    double max_boost;
    double boost_ratio;
    double null_low;
    double null_high;
    std::optional<double> early_cut_end;
    double cut_ratio;
};

constexpr double kEarlyCutRatio = 2.0;

constexpr DrcCurve curve_of(DrcProfile profile) {
    switch (profile) {
        case DrcProfile::FilmLight: return {6.0, 2.0, -41.0, -21.0, -11.0, 20.0};
        case DrcProfile::FilmStandard: return {6.0, 2.0, -31.0, -26.0, -16.0, 20.0};
        case DrcProfile::MusicLight: return {12.0, 2.0, -41.0, -21.0, std::nullopt, 2.0};
        case DrcProfile::MusicStandard: return {12.0, 2.0, -31.0, -26.0, -16.0, 20.0};
        case DrcProfile::Speech: return {15.0, 5.0, -31.0, -26.0, -16.0, 20.0};
        case DrcProfile::None: break;
    }
    return {0.0, 1.0, -1e9, 1e9, std::nullopt, 1.0};
}

// The share of a level change above (or below) a threshold that a ratio
// removes: 2:1 keeps half of it.
double slope(double ratio) { return 1.0 - 1.0 / ratio; }

constexpr uint32_t kLfePosition = 3;  // L, R, C, LFE, Ls, Rs

constexpr double kBlockSeconds = 256.0 / 48000.0;
const double kAttack = std::exp(-kBlockSeconds / 0.010);
const double kRelease = std::exp(-kBlockSeconds / 0.300);

// One step of the smoother towards `target`.
double smooth(double current, double target) {
    const double keep = target < current ? kAttack : kRelease;
    return target + (current - target) * keep;
}

// The decoded peak after RF mode's +11 dB stays 1 dB below full scale.
constexpr double kRfLift = 11.0;
constexpr double kRfPeakMargin = 1.0;

// Splits a linear gain into 2^x * (1 + y / steps) with y in 0..steps - 1.
struct GainParts {
    int x;
    int y;
};

GainParts split_gain(double gain_db, int steps, bool round_down) {
    const double linear = std::pow(10.0, gain_db / 20.0);
    int x = static_cast<int>(std::floor(std::log2(linear)));
    const double mantissa = (linear / std::ldexp(1.0, x) - 1.0) * steps;
    int y = static_cast<int>(round_down ? std::floor(mantissa + 1e-9) : std::round(mantissa));
    y = std::clamp(y, 0, steps);
    if (y == steps) {
        ++x;
        y = 0;
    }
    return {x, y};
}

uint8_t pack_gain(double gain_db, int x_bits, int y_bits, bool round_down) {
    const int steps = 1 << y_bits;
    const int x_min = -(1 << (x_bits - 1));
    const int x_max = (1 << (x_bits - 1)) - 1;
    GainParts g = split_gain(gain_db, steps, round_down);
    if (g.x < x_min) g = {x_min, 0};
    if (g.x > x_max) g = {x_max, steps - 1};
    const int x_field = g.x & ((1 << x_bits) - 1);
    return static_cast<uint8_t>((x_field << y_bits) | g.y);
}

double unpack_gain_db(uint8_t code, int x_bits, int y_bits) {
    const int steps = 1 << y_bits;
    int x = code >> y_bits;
    if (x >= (1 << (x_bits - 1))) x -= 1 << x_bits;
    const int y = code & (steps - 1);
    return 20.0 * std::log10(std::ldexp(1.0 + static_cast<double>(y) / steps, x));
}

}  // namespace

double drc_static_gain_db(DrcProfile profile, double level_db, int32_t dialnorm_db) {
    if (profile == DrcProfile::None) return 0.0;
    const DrcCurve c = curve_of(profile);
    const double level = level_db - (dialnorm_db + 31);
    if (level < c.null_low) return std::min(c.max_boost, (c.null_low - level) * slope(c.boost_ratio));
    if (level <= c.null_high) return 0.0;
    double gain = 0.0;
    double cut_start = c.null_high;
    if (c.early_cut_end) {
        gain -= (std::min(level, *c.early_cut_end) - c.null_high) * slope(kEarlyCutRatio);
        cut_start = *c.early_cut_end;
    }
    if (level > cut_start) gain -= (level - cut_start) * slope(c.cut_ratio);
    return gain;
}

uint8_t dynrng_code(double gain_db) { return pack_gain(gain_db, 3, 5, false); }
uint8_t compr_code(double gain_db) { return pack_gain(gain_db, 4, 4, true); }
double dynrng_gain_db(uint8_t code) { return unpack_gain_db(code, 3, 5); }
double compr_gain_db(uint8_t code) { return unpack_gain_db(code, 4, 4); }

DynamicRangeTracker::DynamicRangeTracker(DrcProfile line, DrcProfile rf, int32_t dialnorm_db)
    : line_(line), rf_(rf), dialnorm_db_(dialnorm_db) {}

FrameGainWords DynamicRangeTracker::next_frame(std::span<const double, 6> block_levels_db, double peak) {
    FrameGainWords words;
    double rf_frame_gain = 1e9;
    std::optional<uint8_t> previous;
    for (std::size_t b = 0; b < block_levels_db.size(); ++b) {
        const double line_target = drc_static_gain_db(line_, block_levels_db[b], dialnorm_db_);
        const double rf_target = drc_static_gain_db(rf_, block_levels_db[b], dialnorm_db_);
        line_gain_db_ = started_ ? smooth(line_gain_db_, line_target) : line_target;
        rf_gain_db_ = started_ ? smooth(rf_gain_db_, rf_target) : rf_target;
        started_ = true;
        rf_frame_gain = std::min(rf_frame_gain, rf_gain_db_);
        if (line_ == DrcProfile::None) continue;
        // Block 0 always sends its word; a later block only when it changes
        // (dynrnge 0 makes the decoder keep the previous block's gain).
        const uint8_t code = dynrng_code(line_gain_db_);
        if (b == 0 || code != previous) words.dynrng[b] = code;
        previous = code;
    }
    if (rf_ != DrcProfile::None) {
        if (peak > 0.0) rf_frame_gain = std::min(rf_frame_gain, -kRfLift - kRfPeakMargin - 20.0 * std::log10(peak));
        words.compr = compr_code(rf_frame_gain);
    }
    return words;
}

FrameGainWords DynamicRangeTracker::next_frame(std::span<const float> interleaved, uint32_t channels) {
    constexpr std::size_t kBlockFrames = 256;
    const std::size_t frames = interleaved.size() / channels;
    std::array<double, 6> levels{};
    for (std::size_t b = 0; b < levels.size(); ++b) {
        // Summed over the full-bandwidth channels (all but the LFE of 5.1).
        double power = 0.0;
        for (uint32_t c = 0; c < channels; ++c) {
            if (channels == 6 && c == kLfePosition) continue;
            double sum = 0.0;
            for (std::size_t f = b * kBlockFrames; f < std::min(frames, (b + 1) * kBlockFrames); ++f) {
                const double s = interleaved[f * channels + c];
                sum += s * s;
            }
            power += sum / kBlockFrames;
        }
        // A full-scale sine has a mean square of 1/2.
        levels[b] = 10.0 * std::log10(std::max(2.0 * power, 1e-30));
    }
    double peak = 0.0;
    for (const float s : interleaved) peak = std::max(peak, static_cast<double>(std::fabs(s)));
    return next_frame(levels, peak);
}

}  // namespace oskavi
