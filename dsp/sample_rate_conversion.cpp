#include "dsp/sample_rate_conversion.h"

#include <cmath>
#include <numeric>
#include <stdexcept>

namespace oskavi {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFourPi = 12.566370614359172;

constexpr uint32_t kHalfbandTaps = 63;
constexpr uint32_t kPolyphaseTaps = 47;
constexpr int64_t kPolyphaseCentre = 23;

double blackman(uint32_t n, uint32_t taps) {
    const double d = static_cast<double>(taps - 1);
    return 0.42 - 0.5 * std::cos(kTwoPi * n / d) + 0.08 * std::cos(kFourPi * n / d);
}

double sinc(double x) {
    if (std::fabs(x) < 1e-15) return 1.0;
    return std::sin(kPi * x) / (kPi * x);
}

void normalise(std::vector<double>& taps) {
    double sum = 0.0;
    for (double t : taps) sum += t;
    for (double& t : taps) t /= sum;
}

uint64_t binary_gcd(uint64_t a, uint64_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    int shift = 0;
    while (((a | b) & 1) == 0) {
        a >>= 1;
        b >>= 1;
        ++shift;
    }
    while ((a & 1) == 0) a >>= 1;
    while (b != 0) {
        while ((b & 1) == 0) b >>= 1;
        if (a > b) std::swap(a, b);
        b -= a;
    }
    return a << shift;
}

// Input sample of frame i, channel c; zero outside the buffer.
inline double input_at(const PcmBuffer& in, int64_t frame, uint32_t channel, int64_t frames) {
    if (frame < 0 || frame >= frames) return 0.0;
    return in.samples[static_cast<size_t>(frame) * in.channels + channel];
}

}  // namespace

std::vector<double> design_lowpass_fir(uint32_t taps, double cutoff) {
    if (taps % 2 == 0) throw std::runtime_error("FIR tap count must be odd");
    std::vector<double> h(taps);
    const int64_t centre = taps / 2;
    for (uint32_t n = 0; n < taps; ++n) {
        const double t = static_cast<double>(static_cast<int64_t>(n) - centre);
        h[n] = 2.0 * cutoff * sinc(2.0 * cutoff * t) * blackman(n, taps);
    }
    normalise(h);
    return h;
}

PcmBuffer halfband_decimate(const PcmBuffer& input) {
    static const std::vector<double> taps = design_lowpass_fir(kHalfbandTaps, 0.25);
    const int64_t in_frames = static_cast<int64_t>(input.frame_count());
    const int64_t out_frames = in_frames / 2;
    PcmBuffer out{input.sample_rate / 2, input.channels, input.layout, {}};
    out.samples.resize(static_cast<size_t>(out_frames) * input.channels);
    for (int64_t j = 0; j < out_frames; ++j) {
        for (uint32_t c = 0; c < input.channels; ++c) {
            double y = 0.0;
            for (uint32_t k = 0; k < kHalfbandTaps; ++k) {
                if (std::fabs(taps[k]) < 1e-18) continue;  // the zero taps of a half-band filter
                y += taps[k] * input_at(input, 2 * j + k - 31, c, in_frames);
            }
            out.samples[static_cast<size_t>(j) * input.channels + c] = static_cast<float>(y);
        }
    }
    return out;
}

PcmBuffer polyphase_resample(const PcmBuffer& input, uint32_t output_rate) {
    const uint64_t g = binary_gcd(input.sample_rate, output_rate);
    const uint64_t up = output_rate / g;
    const uint64_t down = input.sample_rate / g;
    const double cutoff = 0.47 * std::min(1.0, static_cast<double>(output_rate) / input.sample_rate);
    std::vector<std::vector<double>> bank(up, std::vector<double>(kPolyphaseTaps));
    for (uint64_t p = 0; p < up; ++p) {
        const double f = static_cast<double>(p) / static_cast<double>(up);
        for (uint32_t k = 0; k < kPolyphaseTaps; ++k) {
            const double t = static_cast<double>(static_cast<int64_t>(k) - kPolyphaseCentre) - f;
            bank[p][k] = 2.0 * cutoff * sinc(2.0 * cutoff * t) * blackman(k, kPolyphaseTaps);
        }
        normalise(bank[p]);
    }
    const int64_t in_frames = static_cast<int64_t>(input.frame_count());
    const uint64_t out_frames = static_cast<uint64_t>(in_frames) * up / down;
    PcmBuffer out{output_rate, input.channels, input.layout, {}};
    out.samples.resize(out_frames * input.channels);
    for (uint64_t n = 0; n < out_frames; ++n) {
        const uint64_t position = n * down;
        const auto base = static_cast<int64_t>(position / up);
        const std::vector<double>& h = bank[position % up];
        for (uint32_t c = 0; c < input.channels; ++c) {
            double y = 0.0;
            for (uint32_t k = 0; k < kPolyphaseTaps; ++k)
                y += h[k] * input_at(input, base - kPolyphaseCentre + k, c, in_frames);
            out.samples[n * input.channels + c] = static_cast<float>(y);
        }
    }
    return out;
}

PcmBuffer resample_to_48k(PcmBuffer input) {
    switch (input.sample_rate) {
        case 48000: return input;
        case 96000: return halfband_decimate(input);
        case 192000: return halfband_decimate(halfband_decimate(input));
        case 44100:
        case 88200:
        case 176400: return polyphase_resample(input, 48000);
        default: throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    }
}

}  // namespace oskavi
