#include "tests/support/ac3_decode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "tests/support/run_process.h"

namespace oskavi::test {

DecodedAc3 decode_ac3(const std::string& path, const std::vector<std::string>& decoder_options) {
    const Args argv = joined(joined({"ffmpeg", "-nostdin", "-v", "error", "-err_detect", "crccheck"}, decoder_options),
                             {"-f", "ac3", "-i", path, "-f", "f32le", "-"});
    const ProcessResult result = run_process(argv);
    DecodedAc3 decoded;
    decoded.errors = result.err;
    if (result.exit_code != 0 && decoded.errors.empty()) decoded.errors = "ffmpeg exit status " + std::to_string(result.exit_code);
    decoded.samples.resize(result.out.size() / sizeof(float));
    std::memcpy(decoded.samples.data(), result.out.data(), decoded.samples.size() * sizeof(float));
    return decoded;
}

DecodedAc3 decode_ac3_liba52(const std::string& path) {
    // -o float writes liba52's own sample layout: for every block of 256
    // samples, the 256 of the left channel, then the 256 of the right.
    const ProcessResult result = run_process({"a52dec", "-a", "-o", "float", path});
    DecodedAc3 decoded;
    if (result.exit_code != 0) decoded.errors = "a52dec exit status " + std::to_string(result.exit_code) + ": " + result.err;
    std::vector<float> planar(result.out.size() / sizeof(float));
    std::memcpy(planar.data(), result.out.data(), planar.size() * sizeof(float));
    decoded.samples.resize(planar.size() / 512 * 512);
    for (size_t i = 0; i < decoded.samples.size(); ++i) decoded.samples[i] = planar[i / 512 * 512 + i % 2 * 256 + i % 512 / 2];
    return decoded;
}

double channel_snr_db(const std::vector<float>& input, const std::vector<float>& decoded, uint32_t channels,
                      uint32_t channel, uint32_t delay) {
    const size_t input_frames = input.size() / channels;
    const size_t decoded_frames = decoded.size() / channels;
    if (decoded_frames <= delay) return -std::numeric_limits<double>::infinity();
    const size_t n = std::min(input_frames, decoded_frames - delay);
    double signal = 0.0, noise = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const double x = input[i * channels + channel];
        const double y = decoded[(i + delay) * channels + channel];
        signal += x * x;
        noise += (x - y) * (x - y);
    }
    if (noise == 0.0) return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(signal / noise);
}

}  // namespace oskavi::test
