#pragma once
// Decoding through two independent decoders (FFmpeg's and liba52's a52dec)
// and comparing the result with the encoder's input.

#include <cstdint>
#include <string>
#include <vector>

namespace oskavi::test {

struct DecodedAc3 {
    std::string errors;           // ffmpeg's standard error; empty for a clean decode
    std::vector<float> samples;   // interleaved float output
};

// Decodes with CRC checking on (-err_detect crccheck), so a frame whose CRC
// is wrong is reported instead of being decoded quietly. `decoder_options`
// go before the input (e.g. -drc_scale 0).
DecodedAc3 decode_ac3(const std::string& path, const std::vector<std::string>& decoder_options = {});

// Decodes with liba52's a52dec, written independently of FFmpeg's decoder.
// Its output is stereo whatever the stream: mono on both sides, and more
// channels downmixed as L + clev * C + slev * Ls (and R, Rs likewise) with the
// stream's mix levels, not normalised (-a). `errors` holds a failed exit.
DecodedAc3 decode_ac3_liba52(const std::string& path);

// Signal-to-noise ratio in dB of one channel of decoded against input, with
// the decoded stream delayed by `delay` frames (the codec delay is 256).
double channel_snr_db(const std::vector<float>& input, const std::vector<float>& decoded, uint32_t channels,
                      uint32_t channel, uint32_t delay);

}  // namespace oskavi::test
