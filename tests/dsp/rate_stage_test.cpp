// The rate stage against plain computations, bit for bit: every FIR kernel
// (AVX2 and plain) against the one-at-a-time dot product, and the streaming
// resampler against the whole-file conversion.

#include "dsp/fir_rows.h"
#include "dsp/streaming_resampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/sample_rate_conversion.h"
#include "platform/processor_features.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

// Bit for bit, signed zeros included.
bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

// Rows of one filter over a signal: row r starts at input frame r, so output n
// of fir_rows is the dot product of the taps with frames n .. n + taps - 1.
struct Material {
    std::vector<double> signal, taps;
    std::vector<const double*> rows;
};

Material fir_material(size_t outputs, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Material m;
    m.taps = design_polyphase_bank(44100, 48000).phases[seed % 160];
    for (size_t i = 0; i < outputs + m.taps.size(); ++i) m.signal.push_back(sample(random));
    for (size_t r = 0; r < m.taps.size(); ++r) m.rows.push_back(m.signal.data() + r);
    return m;
}

std::vector<float> reference(const Material& m, size_t outputs) {
    std::vector<float> out(outputs);
    for (size_t n = 0; n < outputs; ++n)
        out[n] = polyphase_dot(m.taps, 0, [&](int64_t k) { return m.signal[n + static_cast<size_t>(k)]; });
    return out;
}

TEST(FirRows, EveryKernelGivesTheBitsOfTheOneAtATimeDotProduct) {
    // Run lengths that end in every one of the vector passes and the scalar
    // tail, read from a later column and written at a stride, as the
    // resampler's tiles of periods read and write them.
    for (size_t outputs : {0u, 1u, 3u, 4u, 7u, 8u, 13u, 16u, 17u, 31u, 32u, 63u, 1000u}) {
        for (const auto& [column, stride] : {std::pair<size_t, size_t>{0, 1}, {5, 3}}) {
            const Material m = fir_material(outputs + column, static_cast<uint32_t>(outputs) + 3);
            std::vector<float> expected = reference(m, outputs + column);
            expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(column));
            const FirRun run{m.rows, m.taps, column};
            const auto every = [&](auto kernel) {
                std::vector<float> strided(outputs * stride, -7.0f), out;
                kernel(run, outputs, strided.data(), stride);
                for (size_t n = 0; n < strided.size(); ++n) {
                    if (n % stride == 0) {
                        out.push_back(strided[n]);
                    } else {
                        EXPECT_EQ(strided[n], -7.0f) << "wrote between outputs at " << n;
                    }
                }
                return out;
            };
            EXPECT_TRUE(same_bits(every(fir_rows_plain), expected)) << outputs << " from " << column;
            EXPECT_TRUE(same_bits(every(fir_rows), expected)) << outputs << " from " << column;
            if (processor_has_avx2()) {
                EXPECT_TRUE(same_bits(every(fir_rows_avx2), expected)) << outputs << " from " << column;
            }
        }
    }
}

PcmBuffer material(uint32_t rate, uint64_t frames) {
    std::vector<float> samples = tools::make_test_signal({rate, 2, static_cast<double>(frames) / rate, 0.6, true, 1});
    samples.resize(frames * 2, 0.25f);  // exact length whatever the rounding of seconds
    return PcmBuffer{rate, 2, ChannelLayout::Stereo, std::move(samples)};
}

std::vector<float> stream_in_blocks(const PcmBuffer& input, size_t block_frames) {
    StreamingResampler stage(input.sample_rate, input.channels);
    std::vector<float> out;
    const ResampledFrameSink sink = [&](std::span<const float> frames) {
        EXPECT_EQ(frames.size() % input.channels, 0u);
        out.insert(out.end(), frames.begin(), frames.end());
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
            for (size_t block : {1u, 7u, 4096u})
                EXPECT_TRUE(same_bits(stream_in_blocks(input, block), whole))
                    << rate << " Hz, " << frames << " frames, blocks of " << block;
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
            uint64_t filtered_frames = 0, counted_frames = 0;
            const ResampledFrameSink count = [&](std::span<const float> frames) {
                filtered_frames += frames.size() / 2;
            };
            const ResampledFrameSink count_too = [&](std::span<const float> frames) {
                counted_frames += frames.size() / 2;
            };
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
