#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "dsp/sample_rate_conversion.h"
#include "dsp/streaming_resampler.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

constexpr uint32_t kRates[] = {44100, 48000, 88200, 96000, 176400, 192000};

PcmBuffer material(uint32_t rate, uint32_t channels, uint64_t frames) {
    tools::SignalShape shape;
    shape.sample_rate = rate;
    shape.channels = channels;
    shape.seconds = static_cast<double>(frames) / rate;
    std::vector<float> samples = tools::make_test_signal(shape);
    samples.resize(frames * channels, 0.25f);  // exact length whatever the rounding of seconds
    const ChannelLayout layout = channels == 1 ? ChannelLayout::Mono : ChannelLayout::Stereo;
    return PcmBuffer{rate, channels, layout, std::move(samples)};
}

struct Streamed {
    std::vector<float> samples;
    size_t largest_window = 0;  // floats held by the stages after a push
};

Streamed stream_in_blocks(const PcmBuffer& input, size_t block_frames) {
    StreamingResampler stage(input.sample_rate, input.channels);
    Streamed out;
    const ResampledFrameSink sink = [&](std::span<const float> frame) {
        EXPECT_EQ(frame.size(), input.channels);
        out.samples.insert(out.samples.end(), frame.begin(), frame.end());
    };
    const size_t block_floats = block_frames * input.channels;
    for (size_t i = 0; i < input.samples.size(); i += block_floats) {
        const size_t n = std::min(block_floats, input.samples.size() - i);
        stage.push(std::span<const float>(input.samples).subspan(i, n), sink);
        out.largest_window = std::max(out.largest_window, stage.window_floats());
    }
    stage.finish(sink);
    return out;
}

bool bit_identical(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST(StreamingResampler, MatchesWholeFileConversionForEveryRateAndBlockSize) {
    for (uint32_t rate : kRates) {
        for (uint64_t frames : {0ull, 1ull, 40ull, 9001ull}) {
            const PcmBuffer input = material(rate, 2, frames);
            const PcmBuffer whole = resample_to_48k(input);
            for (size_t block : {1u, 7u, 4096u}) {
                const Streamed streamed = stream_in_blocks(input, block);
                EXPECT_TRUE(bit_identical(streamed.samples, whole.samples))
                    << rate << " Hz, " << frames << " frames, blocks of " << block;
            }
        }
    }
}

TEST(StreamingResampler, WindowHoldsOnlyTheFilterSpanAfterEachPush) {
    // After each push only the frames a later output can still reach remain:
    // about the filter span, whatever the input length or block size.
    for (uint32_t rate : {44100u, 96000u, 192000u}) {
        const PcmBuffer input = material(rate, 2, 40000);
        for (size_t block : {7u, 4096u}) {
            const Streamed streamed = stream_in_blocks(input, block);
            EXPECT_GT(streamed.largest_window, 0u);
            EXPECT_LE(streamed.largest_window, 2u * 140) << rate << " " << block;
        }
    }
}

TEST(StreamingResampler, ReleasesEachOutputOnceItsFilterIsCovered) {
    // Half-band output j needs input frame 2j + 31; polyphase output n needs
    // floor(n * 147 / 160) + 23 at 44.1 kHz.
    const PcmBuffer input = material(96000, 1, 100);
    StreamingResampler halfband(96000, 1);
    uint64_t released = 0;
    const ResampledFrameSink count = [&](std::span<const float>) { ++released; };
    halfband.push(input.samples, count);
    EXPECT_EQ(released, 35u);  // j = 0..34, since 2 * 34 + 31 = 99 < 100
    halfband.finish(count);
    EXPECT_EQ(released, 50u);

    const PcmBuffer cd = material(44100, 1, 147);
    StreamingResampler polyphase(44100, 1);
    released = 0;
    polyphase.push(cd.samples, count);
    uint64_t expected = 0;
    while (expected * 147 / 160 + 23 < 147) ++expected;
    EXPECT_EQ(released, expected);
    polyphase.finish(count);
    EXPECT_EQ(released, 160u);
}

TEST(StreamingResampler, FilterSizesAndUnsupportedRates) {
    EXPECT_EQ(StreamingResampler(48000, 2).filter_taps(), 0u);
    EXPECT_EQ(StreamingResampler(96000, 2).filter_taps(), 63u);
    EXPECT_EQ(StreamingResampler(192000, 2).filter_taps(), 126u);
    EXPECT_EQ(StreamingResampler(44100, 2).filter_taps(), 160u * 47u);
    EXPECT_EQ(StreamingResampler(88200, 2).filter_taps(), 80u * 47u);
    for (uint32_t rate : {32000u, 22050u}) {
        try {
            StreamingResampler stage(rate, 2);
            ADD_FAILURE() << rate << " accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
        }
    }
}

}  // namespace
}  // namespace oskavi
