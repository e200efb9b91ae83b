#include "dsp/matrix_decode.h"

#include <gtest/gtest.h>

#include <cmath>


namespace oskavi {
namespace {

// Stereo tone with the given right-channel factor (1 = mono, -1 = opposite).
PcmBuffer stereo_tone(uint32_t rate, size_t frames, double right_factor, double level = 0.5) {
    PcmBuffer pcm{rate, 2, ChannelLayout::Stereo, std::vector<float>(frames * 2)};
    for (size_t i = 0; i < frames; ++i) {
        const double v = level * std::sin(6.283185307179586 * 440.0 * i / rate);
        pcm.samples[2 * i] = static_cast<float>(v);
        pcm.samples[2 * i + 1] = static_cast<float>(right_factor * v);
    }
    return pcm;
}

TEST(MatrixDecode, InPhaseContentSteersToTheCentreAndOppositeToTheSurrounds) {
    for (const double right : {1.0, -1.0}) {
        MatrixDecodeStats stats;
        const PcmBuffer out = matrix_decode(stereo_tone(48000, 48000, right), 0.0, &stats);
        EXPECT_GT(right > 0 ? stats.max_centre_steer : stats.max_surround_steer, 0.99);
        EXPECT_EQ(right > 0 ? stats.max_surround_steer : stats.max_centre_steer, 0.0);
        const size_t last = out.frame_count() - 1;
        const double l = 0.5 * std::sin(6.283185307179586 * 440.0 * last / 48000.0);
        const float* frame = &out.samples[last * 6];  // L R C LFE Ls Rs
        EXPECT_NEAR(frame[0], 0.0, 0.01) << right;
        EXPECT_NEAR(frame[2], right > 0 ? std::sqrt(2.0) * l : 0.0, 0.01) << right;
        EXPECT_EQ(frame[3], 0.0f);
        EXPECT_NEAR(frame[4], right > 0 ? 0.0 : l, 0.01) << right;
        EXPECT_NEAR(frame[5], right > 0 ? 0.0 : l, 0.01) << right;
    }
}

}  // namespace
}  // namespace oskavi
