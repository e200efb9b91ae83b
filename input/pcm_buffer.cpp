#include "input/pcm_buffer.h"

namespace oskavi {

ChannelLayout classify_layout(uint32_t channels, uint32_t channel_mask) {
    // Masks: 0x3F = FL FR FC LFE BL BR, 0x60F = FL FR FC LFE SL SR,
    // 0x63F = FL FR FC LFE BL BR SL SR. No mask means the standard WAVE order.
    switch (channels) {
        case 1: return ChannelLayout::Mono;
        case 2: return ChannelLayout::Stereo;
        case 6:
            return channel_mask == 0x3F || channel_mask == 0x60F || channel_mask == 0
                       ? ChannelLayout::Surround51
                       : ChannelLayout::Unknown;
        case 8:
            return channel_mask == 0x63F || channel_mask == 0 ? ChannelLayout::Surround71
                                                               : ChannelLayout::Unknown;
        default: return ChannelLayout::Unknown;
    }
}

std::string layout_display_name(ChannelLayout layout) {
    switch (layout) {
        case ChannelLayout::Mono: return "mono";
        case ChannelLayout::Stereo: return "stereo";
        case ChannelLayout::Surround51: return "5.1";
        case ChannelLayout::Surround71: return "7.1";
        default: return "unknown";
    }
}

}  // namespace oskavi
