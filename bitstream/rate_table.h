#pragma once
// The 48 kHz AC-3 bit-rate table and the channel-count to acmod/lfeon table.

#include <array>
#include <cstdint>

namespace oskavi {

inline constexpr std::array<uint32_t, 19> kAc3Bitrates = {
    32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
inline constexpr std::array<uint16_t, 19> kAc3FrameWords = {
    64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};

struct Ac3RateInfo {
    uint32_t bitrate_kbps = 0;
    uint8_t frmsizecod = 0;
    uint16_t frame_words = 0;
    uint16_t frame_bytes = 0;
};

struct ChannelConfig {
    uint8_t acmod = 0;
    uint8_t lfeon = 0;
};

// Throws the "Unsupported AC-3 bitrate at 48 kHz ..." error for any other rate.
Ac3RateInfo lookup_rate(uint32_t bitrate_kbps);

// Total channel count (LFE included) 1..6 to acmod/lfeon.
ChannelConfig channel_config(uint32_t channels);

}  // namespace oskavi
