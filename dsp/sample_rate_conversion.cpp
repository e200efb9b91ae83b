#include "dsp/sample_rate_conversion.h"

#include <algorithm>
#include <stdexcept>

#include "dsp/streaming_resampler.h"

namespace oskavi {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kFourPi = 12.566370614359172;

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

const std::vector<double>& halfband_taps() {
    static const std::vector<double> taps = design_lowpass_fir(kHalfbandTaps, 0.25);
    return taps;
}

PolyphaseBank design_polyphase_bank(uint32_t input_rate, uint32_t output_rate) {
    const uint64_t g = binary_gcd(input_rate, output_rate);
    PolyphaseBank bank;
    bank.up = output_rate / g;
    bank.down = input_rate / g;
    const double cutoff = 0.47 * std::min(1.0, static_cast<double>(output_rate) / input_rate);
    bank.phases.assign(bank.up, std::vector<double>(kPolyphaseTaps));
    for (uint64_t p = 0; p < bank.up; ++p) {
        const double f = static_cast<double>(p) / static_cast<double>(bank.up);
        std::vector<double>& h = bank.phases[p];
        for (uint32_t k = 0; k < kPolyphaseTaps; ++k) {
            const double t = static_cast<double>(static_cast<int64_t>(k) - kPolyphaseCentre) - f;
            h[k] = 2.0 * cutoff * sinc(2.0 * cutoff * t) * blackman(k, kPolyphaseTaps);
        }
        normalise(h);
    }
    return bank;
}

bool is_supported_input_rate(uint32_t sample_rate) {
    switch (sample_rate) {
        case 44100:
        case 48000:
        case 88200:
        case 96000:
        case 176400:
        case 192000: return true;
        default: return false;
    }
}

namespace {

// The whole-file conversions run the streaming stages over the input in
// blocks: one implementation of the filters, the same samples either way.
void run_stage(StreamingFir& stage, const PcmBuffer& input, std::vector<float>& out) {
    const size_t block = size_t{65536} * input.channels;
    const std::span<const float> samples(input.samples);
    for (size_t i = 0; i < samples.size(); i += block) stage.push(samples.subspan(i, std::min(block, samples.size() - i)), out);
    stage.finish(out);
}

}  // namespace

PcmBuffer halfband_decimate(const PcmBuffer& input, uint32_t threads) {
    StreamingFir stage = make_halfband_stage(input.channels);
    stage.set_threads(threads);
    PcmBuffer out{input.sample_rate / 2, input.channels, input.layout, {}};
    out.samples.reserve(input.samples.size() / 2 + input.channels);
    run_stage(stage, input, out.samples);
    return out;
}

PcmBuffer polyphase_resample(const PcmBuffer& input, uint32_t output_rate, uint32_t threads) {
    StreamingFir stage = make_polyphase_stage(input.channels, input.sample_rate, output_rate);
    stage.set_threads(threads);
    PcmBuffer out{output_rate, input.channels, input.layout, {}};
    out.samples.reserve(input.frame_count() * output_rate / input.sample_rate * input.channels + input.channels);
    run_stage(stage, input, out.samples);
    return out;
}

PcmBuffer resample_to_48k(PcmBuffer input, uint32_t threads) {
    switch (input.sample_rate) {
        case 48000: return input;
        case 96000: return halfband_decimate(input, threads);
        case 192000: return halfband_decimate(halfband_decimate(input, threads), threads);
        case 44100:
        case 88200:
        case 176400: return polyphase_resample(input, 48000, threads);
        default: throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    }
}

}  // namespace oskavi
