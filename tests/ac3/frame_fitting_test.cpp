// The rate decision of every frame: fit_frame must pick the largest coarse
// SNR offset at which the packed frame fits, the size-only and full-pack
// probes must agree, and a frame that cannot fit is reported by type.

#include "ac3/frame_fitting.h"

#include <gtest/gtest.h>

#include "ac3/block_analysis.h"
#include "ac3/encoder_errors.h"
#include "ac3/frame_encoder.h"
#include "ac3/frame_stages.h"
#include "tools/test_signal.h"

namespace oskavi {
namespace {

PcmBuffer test_pcm(uint32_t channels) {
    const ChannelLayout layout = channels == 1   ? ChannelLayout::Mono
                                 : channels == 2 ? ChannelLayout::Stereo
                                                 : ChannelLayout::Surround51;
    return PcmBuffer{48000, channels, layout, tools::make_test_signal({48000, channels, 0.2})};
}

// One frame of the test signal through the encoder's own analysis and planning.
struct PlannedFrame {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks;
    FramePlan plan;
};

PlannedFrame planned_frame(const PcmBuffer& pcm, uint64_t index, const EncoderSettings& settings) {
    PlannedFrame frame;
    const PcmView source{pcm.samples, pcm.channels, pcm.layout};
    analyse_frame_blocks(source, static_cast<int64_t>(index) * kBlocksPerFrame, settings, frame.blocks);
    const CouplingPlan coupling = couple_and_rematrix(frame.blocks, pcm.channels, settings);
    frame.plan = plan_frame_exponents(frame.blocks, pcm.channels, coupling, settings.bitrate_kbps,
                                      settings.exponent_adaptation);
    return frame;
}

TEST(FrameFitting, ChoosesTheLargestFittingOffsetAndBothProbesAgree) {
    const struct {
        uint32_t channels, kbps;
    } cases[] = {{1, 64}, {2, 96}, {2, 192}, {2, 640}, {6, 384}};
    int below_top = 0;  // searches that ended below 63, where the next step must fail
    for (const auto& c : cases) {
        const PcmBuffer pcm = test_pcm(c.channels);
        EncoderSettings settings;
        settings.bitrate_kbps = c.kbps;
        for (uint64_t index : {1u, 4u}) {
            SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.kbps) + ", frame " +
                         std::to_string(index));
            const PlannedFrame planned = planned_frame(pcm, index, settings);
            const FrameContext frame{planned.blocks, planned.plan, c.kbps, -31, c.channels};
            int largest = -1;
            for (int cs = 0; cs <= kMaxCsnroffst; ++cs) {
                const bool size_only = probe_fit(frame, static_cast<uint8_t>(cs), nullptr, false);
                ASSERT_EQ(probe_fit(frame, static_cast<uint8_t>(cs), nullptr, true), size_only) << cs;
                if (size_only) {
                    EXPECT_EQ(largest, cs - 1) << "fitting offsets must be 0..largest";
                    largest = cs;
                }
            }
            ASSERT_GE(largest, 0);
            const std::vector<uint8_t> chosen = fit_frame(frame, false);
            EXPECT_EQ(chosen, write_frame(frame, static_cast<uint8_t>(largest)));
            EXPECT_EQ(fit_frame(frame, true), chosen);
            if (largest < kMaxCsnroffst) {
                ++below_top;
                EXPECT_FALSE(frame_fits(frame, static_cast<uint8_t>(largest + 1)));
                EXPECT_THROW(write_frame(frame, static_cast<uint8_t>(largest + 1)), FrameSizeOverflow);
            }
            std::vector<uint8_t> probed;
            EXPECT_TRUE(probe_fit(frame, static_cast<uint8_t>(largest), &probed, false));
            EXPECT_EQ(probed, chosen);
        }
    }
    EXPECT_GE(below_top, 4);
}

TEST(FrameFitting, AFrameThatCannotFitIsReportedByType) {
    const PcmBuffer pcm = test_pcm(6);
    EncoderSettings settings;
    settings.bitrate_kbps = 32;
    const PlannedFrame planned = planned_frame(pcm, 1, settings);
    const FrameContext frame{planned.blocks, planned.plan, 32, -31, 6};
    EXPECT_FALSE(probe_fit(frame, 0, nullptr, false));
    EXPECT_THROW(fit_frame(frame, false), FrameUnfittable);
    // The encoder's recovery (the frame planned again with one exponent set
    // per channel) does not save this frame either, so it reports it; with
    // exponent adaptation off there is no second plan to try.
    EXPECT_THROW(encode_frame_at(pcm, 1, settings), FrameUnfittable);
    settings.exponent_adaptation = false;
    EXPECT_THROW(encode_frame_at(pcm, 1, settings), FrameUnfittable);
    // A rate at which the same frame fits.
    settings.bitrate_kbps = 384;
    EXPECT_EQ(encode_frame_at(pcm, 1, settings).size(), 1536u);
}

}  // namespace
}  // namespace oskavi
