#include "ac3/frame_stages.h"

#include "ac3/coupling.h"
#include "ac3/encoder_errors.h"
#include "ac3/exponent_strategy.h"
#include "ac3/frame_fitting.h"
#include "ac3/frame_planning.h"

namespace oskavi {

CouplingPlan couple_and_rematrix(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                 const EncoderSettings& settings) {
    if (channels != 2) return CouplingPlan{};
    return analyse_coupling_and_rematrix(plan_coupling(settings.coupling, settings.bitrate_kbps), blocks,
                                         settings.bitrate_kbps, settings.coupling_coordinate_reuse);
}

FramePlan plan_frame_exponents(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                               const CouplingPlan& coupling, uint32_t bitrate_kbps, bool exponent_adaptation,
                               const BandwidthSetting& bandwidth) {
    const int nfbw = channels == 6 ? 5 : static_cast<int>(channels);
    const bool lfe = channels == 6;
    FramePlan plan = plan_frame(blocks, bitrate_kbps, nfbw, lfe, coupling, bandwidth);
    plan_exponent_reuse(blocks, plan, nfbw, lfe, exponent_adaptation, bitrate_kbps);
    return plan;
}

namespace {

std::vector<uint8_t> plan_and_fit(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                  const CouplingPlan& coupling, const EncoderSettings& settings,
                                  const FrameGainWords& gains, const BandwidthSetting& bandwidth) {
    const auto attempt = [&](bool exponent_adaptation) {
        const FramePlan plan =
            plan_frame_exponents(blocks, channels, coupling, settings.bitrate_kbps, exponent_adaptation, bandwidth);
        const FrameContext frame{blocks, plan, settings.bitrate_kbps, settings.dialnorm_db, channels,
                                 settings.metadata, gains};
        return fit_frame(frame, settings.full_pack_probes);
    };
    if (!settings.exponent_adaptation) return attempt(false);
    try {
        return attempt(true);
    } catch (const FrameUnfittable&) {
        // The one recovery: a frame too dense even at zero SNR is planned
        // again with every channel sending exponents only in block 0.
    }
    return attempt(false);
}

}  // namespace

std::vector<uint8_t> encode_analysed_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                           const EncoderSettings& settings, const FrameGainWords& gains) {
    const CouplingPlan coupling = couple_and_rematrix(blocks, channels, settings);
    if (settings.bandwidth.mode == BandwidthMode::Automatic)
        return plan_and_fit(blocks, channels, coupling, settings, gains, settings.bandwidth);
    try {
        return plan_and_fit(blocks, channels, coupling, settings, gains, settings.bandwidth);
    } catch (const FrameUnfittable&) {
        // A requested edge too wide for the bit rate in this frame: the frame
        // falls back to the automatic edge rather than failing the encode.
    }
    return plan_and_fit(blocks, channels, coupling, settings, gains, BandwidthSetting{});
}

}  // namespace oskavi
