#include "tests/ac3/encoder_fixtures.h"

#include <cmath>

#include "tools/test_signal.h"

namespace oskavi::test {

PcmBuffer music_like_pcm(uint32_t channels, double seconds, double correlation, bool transients) {
    tools::SignalShape shape;
    shape.channels = channels;
    shape.seconds = seconds;
    shape.correlation = correlation;
    shape.transients = transients;
    PcmBuffer pcm;
    pcm.sample_rate = 48000;
    pcm.channels = channels;
    pcm.layout = channels == 1   ? ChannelLayout::Mono
                 : channels == 2 ? ChannelLayout::Stereo
                 : channels == 6 ? ChannelLayout::Surround51
                                 : ChannelLayout::Unknown;
    pcm.samples = tools::make_test_signal(shape);
    if (channels == 6) {
        for (uint64_t i = 0; i < pcm.frame_count(); ++i)
            pcm.samples[i * 6 + 3] = static_cast<float>(0.5 * std::sin(6.283185307179586 * 50.0 * i / 48000.0));
    }
    return pcm;
}

std::vector<int> stereo_cplinu_flags(std::span<const uint8_t> stream, uint32_t frame_bytes) {
    // syncinfo 40 bits; BSI for acmod 2 without optional fields: bsid 5,
    // bsmod 3, acmod 3, dsurmod 2, lfeon 1, dialnorm 5 and eight 1-bit flags.
    constexpr uint32_t kBlockStart = 40 + 5 + 3 + 3 + 2 + 1 + 5 + 8;
    constexpr uint32_t kCplinu = kBlockStart + 2 + 2 + 1 + 1;
    std::vector<int> flags;
    for (size_t offset = 0; offset + frame_bytes <= stream.size(); offset += frame_bytes) {
        const uint8_t byte = stream[offset + kCplinu / 8];
        flags.push_back((byte >> (7 - kCplinu % 8)) & 1);
    }
    return flags;
}

}  // namespace oskavi::test
