#pragma once
// Decoding through the reference decoder (ffmpeg) and comparing the result
// with the encoder's input.

#include <cstdint>
#include <string>
#include <vector>

namespace oskavi::test {

struct DecodedAc3 {
    std::string errors;           // ffmpeg's standard error; empty for a clean decode
    std::vector<float> samples;   // interleaved float output
    uint32_t channels = 0;
};

// Decodes with CRC checking on (-err_detect crccheck), so a frame whose CRC
// is wrong is reported instead of being decoded quietly.
DecodedAc3 decode_ac3(const std::string& path, uint32_t channels);

// Signal-to-noise ratio in dB of one channel of decoded against input, with
// the decoded stream delayed by `delay` frames (the codec delay is 256).
double channel_snr_db(const std::vector<float>& input, const std::vector<float>& decoded, uint32_t channels,
                      uint32_t channel, uint32_t delay);

}  // namespace oskavi::test
