// The frame encoder on arbitrary 1792-frame windows at every bit rate and
// layout. The first four bytes choose the settings; the rest drive a sample
// generator that mixes plain values with NaN, infinities, denormals and
// full-scale squares, repeated to fill the window. Every frame produced must
// pass the verifier's structural and CRC checks.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <limits>
#include <sstream>
#include <vector>

#include "ac3/encoder_errors.h"
#include "ac3/frame_encoder.h"
#include "bitstream/verify.h"
#include "fuzz/fuzz_input_file.h"

namespace {

constexpr std::array<uint32_t, 19> kRates = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                             192, 224, 256, 320, 384, 448, 512, 576, 640};

oskavi::EncoderSettings settings_from(const uint8_t* head) {
    oskavi::EncoderSettings s;
    s.bitrate_kbps = kRates[head[0] % kRates.size()];
    s.coupling = (head[2] & 1) != 0;
    s.coupling_coordinate_reuse = (head[2] & 2) != 0;
    s.block_switching = (head[2] & 4) != 0;
    s.exponent_adaptation = (head[2] & 8) != 0;
    s.hierarchical_transient_detector = (head[2] & 16) != 0;
    s.dense_mdct = (head[2] & 32) != 0;
    s.full_pack_probes = (head[2] & 64) != 0;
    s.dialnorm_db = -(1 + head[3] % 31);
    return s;
}

// One sample from the byte at `at` (and the two after it for plain values).
float sample_from(const uint8_t* bytes, size_t size, size_t at, size_t index) {
    const uint8_t kind = bytes[at % size];
    const float sign = (kind & 1) != 0 ? -1.0f : 1.0f;
    switch (kind >> 5) {
        case 4: return std::numeric_limits<float>::quiet_NaN();
        case 5: return sign * std::numeric_limits<float>::infinity();
        case 6: return sign * std::numeric_limits<float>::denorm_min() * static_cast<float>(kind & 0x1E);
        case 7: {
            const size_t period = 2 + (kind & 0x1E) * 8;
            return ((index / period) % 2 == 0 ? 1.0f : -1.0f);
        }
        default: {
            const auto value = static_cast<int16_t>(bytes[(at + 1) % size] | (bytes[(at + 2) % size] << 8));
            return static_cast<float>(value) / 32768.0f;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    const oskavi::EncoderSettings settings = settings_from(data);
    constexpr std::array<uint32_t, 3> kChannels = {1, 2, 6};
    constexpr std::array<oskavi::ChannelLayout, 3> kLayouts = {
        oskavi::ChannelLayout::Mono, oskavi::ChannelLayout::Stereo, oskavi::ChannelLayout::Surround51};
    const size_t layout = data[1] % 3;

    oskavi::FrameWindow window;
    window.sample_rate = 48000;
    window.channels = kChannels[layout];
    window.layout = kLayouts[layout];
    window.samples.resize(size_t{oskavi::kFrameWindowFrames} * window.channels);
    const uint8_t* bytes = data + 4;
    const size_t count = size - 4;
    for (size_t i = 0; i < window.samples.size(); ++i) {
        window.samples[i] = sample_from(bytes, count, i * 3, i);
    }

    std::vector<uint8_t> frame;
    try {
        frame = oskavi::encode_frame_window(window, settings);
    } catch (const oskavi::FrameUnfittable&) {
        // 5.1 at the lowest rates may not fit a frame even at zero SNR: loud
        // tonal content (the full-scale squares) still allocates mantissas at
        // the lowest SNR offset, as it does at 56 kbit/s.
        if (!(window.channels == 6 && settings.bitrate_kbps <= 96)) std::abort();
        return 0;
    } catch (const std::exception&) {
        // Below 56 kbit/s a 5.1 frame may not hold its side information either.
        if (!(window.channels == 6 && settings.bitrate_kbps < 56)) std::abort();
        return 0;
    }
    const oskavi::fuzz::FuzzInputFile file(frame.data(), frame.size());
    std::ostringstream report;
    try {
        oskavi::verify_ac3_file(file.path(), report);
    } catch (const std::exception&) {
        std::abort();
    }
    return 0;
}
