#include "dsp/streaming_resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dsp/sample_rate_conversion.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

PcmBuffer material(uint32_t rate, uint64_t frames) {
    std::vector<float> samples = tools::make_test_signal({rate, 2, static_cast<double>(frames) / rate, 0.6, true, 1});
    samples.resize(frames * 2, 0.25f);  // exact length whatever the rounding of seconds
    return PcmBuffer{rate, 2, ChannelLayout::Stereo, std::move(samples)};
}

std::vector<float> stream_in_blocks(const PcmBuffer& input, size_t block_frames) {
    StreamingResampler stage(input.sample_rate, input.channels);
    std::vector<float> out;
    const ResampledFrameSink sink = [&](std::span<const float> frame) {
        out.insert(out.end(), frame.begin(), frame.end());
    };
    for (size_t i = 0; i < input.samples.size(); i += block_frames * 2) {
        const size_t n = std::min(block_frames * 2, input.samples.size() - i);
        stage.push(std::span<const float>(input.samples).subspan(i, n), sink);
    }
    stage.finish(sink);
    return out;
}

TEST(StreamingResampler, MatchesWholeFileConversionForEveryRateAndBlockSize) {
    for (uint32_t rate : {44100u, 48000u, 88200u, 96000u, 176400u, 192000u}) {
        for (uint64_t frames : {0ull, 1ull, 40ull, 9001ull}) {
            const PcmBuffer input = material(rate, frames);
            const std::vector<float> whole = resample_to_48k(input).samples;
            for (size_t block : {1u, 7u, 4096u}) {
                const std::vector<float> streamed = stream_in_blocks(input, block);
                // Bit for bit, signed zeros included.
                EXPECT_TRUE(streamed.size() == whole.size() &&
                            (whole.empty() ||
                             std::memcmp(streamed.data(), whole.data(), whole.size() * sizeof(float)) == 0))
                    << rate << " Hz, " << frames << " frames, blocks of " << block;
            }
        }
    }
}

// Filtering some blocks, then only counting the rest, hands on as many frames
// per block, and reports the same window, as filtering every block.
TEST(StreamingResampler, CountingFollowsFilteringFrameForFrame) {
    for (uint32_t rate : {44100u, 48000u, 88200u, 96000u, 176400u, 192000u}) {
        for (size_t block : {7u, 4096u, 20000u}) {
            const PcmBuffer input = material(rate, 70000);
            StreamingResampler filtered(rate, 2);
            StreamingResampler counted(rate, 2);
            uint64_t filtered_frames = 0;
            const ResampledFrameSink count = [&](std::span<const float>) { ++filtered_frames; };
            uint64_t counted_frames = 0;
            const ResampledFrameSink count_too = [&](std::span<const float>) { ++counted_frames; };
            for (size_t i = 0, index = 0; i < input.samples.size(); i += block * 2, ++index) {
                const size_t n = std::min(block * 2, input.samples.size() - i);
                const std::span<const float> part = std::span<const float>(input.samples).subspan(i, n);
                filtered.push(part, count);
                if (index < 3) {
                    counted.push(part, count_too);
                } else {
                    counted_frames += counted.push_count(n / 2);
                }
                ASSERT_EQ(counted_frames, filtered_frames) << rate << " Hz, blocks of " << block << ", block " << index;
                ASSERT_EQ(counted.window_floats(), filtered.window_floats()) << rate << " Hz, block " << index;
            }
            filtered.finish(count);
            counted_frames += counted.finish_count();
            EXPECT_EQ(counted_frames, filtered_frames) << rate << " Hz, blocks of " << block;
            EXPECT_EQ(counted_frames, 70000ull * 48000 / rate) << rate << " Hz, blocks of " << block;
        }
    }
}

}  // namespace
}  // namespace oskavi
