#include "bitstream/rate_table.h"

#include <stdexcept>

namespace oskavi {

Ac3RateInfo lookup_rate(uint32_t bitrate_kbps) {
    for (size_t i = 0; i < kAc3Bitrates.size(); ++i) {
        if (kAc3Bitrates[i] == bitrate_kbps) {
            return Ac3RateInfo{bitrate_kbps, static_cast<uint8_t>(2 * i), kAc3FrameWords[i],
                               static_cast<uint16_t>(2 * kAc3FrameWords[i])};
        }
    }
    throw std::runtime_error(
        "Unsupported AC-3 bitrate at 48 kHz (legal values: "
        "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)");
}

ChannelConfig channel_config(uint32_t channels) {
    // Four channels are coded as 2/2 (acmod 6), not 3/1.
    switch (channels) {
        case 1: return {1, 0};
        case 2: return {2, 0};
        case 3: return {3, 0};
        case 4: return {6, 0};
        case 5: return {7, 0};
        case 6: return {7, 1};
        default:
            throw std::runtime_error("AC-3 supports 1..5 full-bandwidth channels plus optional LFE");
    }
}

}  // namespace oskavi
