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
                               const CouplingPlan& coupling, uint32_t bitrate_kbps, bool exponent_adaptation) {
    const int nfbw = channels == 6 ? 5 : static_cast<int>(channels);
    const bool lfe = channels == 6;
    FramePlan plan = plan_frame(blocks, bitrate_kbps, nfbw, lfe, coupling);
    plan_exponent_reuse(blocks, plan, nfbw, lfe, exponent_adaptation, bitrate_kbps);
    return plan;
}

std::vector<uint8_t> encode_analysed_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t channels,
                                           const EncoderSettings& settings) {
    const CouplingPlan coupling = couple_and_rematrix(blocks, channels, settings);
    const auto plan_and_fit = [&](bool exponent_adaptation) {
        const FramePlan plan =
            plan_frame_exponents(blocks, channels, coupling, settings.bitrate_kbps, exponent_adaptation);
        const FrameContext frame{blocks, plan, settings.bitrate_kbps, settings.dialnorm_db, channels};
        return fit_frame(frame, settings.full_pack_probes);
    };
    if (!settings.exponent_adaptation) return plan_and_fit(false);
    try {
        return plan_and_fit(true);
    } catch (const FrameUnfittable&) {
        // The one recovery: a frame too dense even at zero SNR is planned
        // again with every channel sending exponents only in block 0.
    }
    return plan_and_fit(false);
}

}  // namespace oskavi
