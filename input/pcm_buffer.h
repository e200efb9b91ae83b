#pragma once
// Interleaved PCM as it travels between the input, preprocessing and encoder
// stages. Buffers are moved from stage to stage, never copied.

#include <cstdint>
#include <string>
#include <vector>

namespace oskavi {

// Channel-position classification. The interleave order is
//   Mono: C;  Stereo: L, R;  Surround51: L, R, C, LFE, Ls, Rs;
//   Surround71: L, R, C, LFE, back L, back R, side L, side R.
enum class ChannelLayout : int32_t {
    Unknown = 0,
    Mono = 1,
    Stereo = 2,
    Surround51 = 3,
    Surround71 = 4,
};

struct PcmBuffer {
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    ChannelLayout layout = ChannelLayout::Unknown;
    std::vector<float> samples;  // length is always a multiple of channels

    uint64_t frame_count() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// Classification of a WAVE file's channels from the count and the
// WAVE_FORMAT_EXTENSIBLE channel mask (0 when the file has none).
ChannelLayout classify_layout(uint32_t channels, uint32_t channel_mask);

// "mono", "stereo", "5.1", "7.1" or "unknown".
std::string layout_display_name(ChannelLayout layout);

}  // namespace oskavi
