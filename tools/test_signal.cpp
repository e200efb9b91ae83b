#include "tools/test_signal.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace oskavi::tools {
namespace {

constexpr double kTwoPi = 6.283185307179586;

// Small deterministic generator (xorshift32) so files are identical everywhere.
struct Noise {
    uint32_t state;
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state) / 4294967296.0 * 2.0 - 1.0;
    }
};

struct Voice {
    double frequency;
    double amplitude;
    double vibrato_hz;
    double tremolo_hz;
};

constexpr Voice kVoices[] = {
    {110.0, 0.16, 5.0, 0.3}, {220.0, 0.12, 4.5, 0.5}, {440.0, 0.10, 5.5, 0.7},
    {987.8, 0.06, 6.0, 0.9}, {2637.0, 0.03, 4.0, 1.3}, {6271.9, 0.012, 3.0, 1.7},
};

// One channel's worth of material; `offset` detunes and reshapes the voices so
// channels differ where they are not shared.
double tone_mix(double t, double offset) {
    double sum = 0.0;
    for (const Voice& v : kVoices) {
        const double f = v.frequency * (1.0 + 0.004 * offset);
        const double phase = kTwoPi * f * t + 0.002 * f / v.vibrato_hz * std::sin(kTwoPi * v.vibrato_hz * t);
        const double level = v.amplitude * (0.75 + 0.25 * std::sin(kTwoPi * v.tremolo_hz * t + offset));
        sum += level * std::sin(phase);
    }
    return sum;
}

void put_le(std::ofstream& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.put(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::vector<float> make_test_signal(const SignalShape& shape) {
    const uint64_t frames = static_cast<uint64_t>(shape.seconds * shape.sample_rate);
    std::vector<float> out(frames * shape.channels);
    Noise noise{shape.seed * 2654435761u + 12345u};
    double shared_low = 0.0;
    std::vector<double> own_low(shape.channels, 0.0);
    const double burst_period = 0.5;
    for (uint64_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / shape.sample_rate;
        // Percussive burst: decaying noise every half second, strongest at onset.
        const double since = std::fmod(t, burst_period);
        const double burst = shape.transients && t >= 0.1 ? std::exp(-since * 40.0) * 0.35 : 0.0;
        shared_low = 0.97 * shared_low + 0.03 * noise.next();
        const double shared = tone_mix(t, 0.0) + 0.02 * noise.next() + 0.3 * shared_low + burst * noise.next();
        for (uint32_t c = 0; c < shape.channels; ++c) {
            own_low[c] = 0.95 * own_low[c] + 0.05 * noise.next();
            const double own = tone_mix(t, 1.0 + c) + 0.02 * noise.next() + 0.3 * own_low[c];
            const double mixed = shape.correlation * shared + (1.0 - shape.correlation) * own;
            out[n * shape.channels + c] = static_cast<float>(std::clamp(0.8 * mixed, -1.0, 1.0));
        }
    }
    return out;
}

void write_wav(const std::string& path, const std::vector<float>& samples, uint32_t sample_rate, uint32_t channels,
               uint32_t bits) {
    if (bits != 16 && bits != 24 && bits != 32) throw std::runtime_error("write_wav: bits must be 16, 24 or 32");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("write_wav: cannot create " + path);
    const uint32_t bytes_per_sample = bits / 8;
    const uint64_t data_bytes = samples.size() * bytes_per_sample;
    out.write("RIFF", 4);
    put_le(out, static_cast<uint32_t>(36 + data_bytes), 4);
    out.write("WAVEfmt ", 8);
    put_le(out, 16, 4);
    put_le(out, bits == 32 ? 3 : 1, 2);
    put_le(out, channels, 2);
    put_le(out, sample_rate, 4);
    put_le(out, sample_rate * channels * bytes_per_sample, 4);
    put_le(out, channels * bytes_per_sample, 2);
    put_le(out, bits, 2);
    out.write("data", 4);
    put_le(out, static_cast<uint32_t>(data_bytes), 4);
    std::vector<char> buffer(data_bytes);
    char* p = buffer.data();
    for (float s : samples) {
        if (bits == 32) {
            std::memcpy(p, &s, 4);
        } else {
            const double scale = bits == 16 ? 32768.0 : 8388608.0;
            const double limit = scale - 1.0;
            const auto v = static_cast<int32_t>(std::lround(std::clamp(static_cast<double>(s) * scale, -scale, limit)));
            for (uint32_t i = 0; i < bytes_per_sample; ++i) p[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
        }
        p += bytes_per_sample;
    }
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    if (!out) throw std::runtime_error("write_wav: write failed for " + path);
}

}  // namespace oskavi::tools
