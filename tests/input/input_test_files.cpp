#include "tests/input/input_test_files.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/run_process.h"
#include "tests/support/wave_builder.h"

namespace oskavi::test {

std::vector<float> test_signal(uint32_t channels, uint32_t frames, uint32_t sample_rate) {
    std::vector<float> out(static_cast<size_t>(channels) * frames);
    const double two_pi = 6.283185307179586;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sample_rate;
        const double ramp = 0.5 + 0.4 * static_cast<double>(i) / frames;
        for (uint32_t ch = 0; ch < channels; ++ch) {
            const double f = 220.0 * (ch + 1);
            const double v = ramp * (0.7 * std::sin(two_pi * f * t) + 0.3 * std::sin(two_pi * 3.1 * f * t + ch));
            out[static_cast<size_t>(i) * channels + ch] = static_cast<float>(v);
        }
    }
    return out;
}

std::vector<int32_t> quantize(const std::vector<float>& signal, uint32_t bits) {
    const double scale = std::ldexp(1.0, static_cast<int>(bits) - 1);
    std::vector<int32_t> out;
    out.reserve(signal.size());
    for (const float s : signal) {
        out.push_back(static_cast<int32_t>(std::lrint(static_cast<double>(s) * scale)));
    }
    return out;
}

void write_raw_float(const std::string& path, const std::vector<float>& samples) {
    write_file(path, float32_bytes(samples));
}

void write_raw_int(const std::string& path, const std::vector<int32_t>& samples, uint32_t bits) {
    if (bits == 24) {
        write_file(path, pcm24_bytes(samples));
        return;
    }
    std::vector<int16_t> narrow(samples.begin(), samples.end());
    write_file(path, pcm16_bytes(narrow));
}

bool run_tool(const std::vector<std::string>& argv) {
    const ProcessResult result = run_process(argv);
    if (result.exit_code != 0) {
        ADD_FAILURE() << argv[0] << " failed with " << result.exit_code << ": " << result.err;
        return false;
    }
    return true;
}

}  // namespace oskavi::test
