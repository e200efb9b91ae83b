#include "ac3/frame_fitting.h"

#include <stdexcept>
#include <string>

#include "ac3/frame_allocation.h"
#include "ac3/frame_packer.h"

namespace oskavi {
namespace {

constexpr uint8_t kMaxCsnroffst = 63;

bool is_size_overflow(const std::runtime_error& error) {
    return std::string(error.what()).find("exceeds selected AC-3 frame size") != std::string::npos;
}

}  // namespace

bool probe_fit(const FrameFitInput& input, uint8_t csnroffst, std::vector<uint8_t>* output,
               bool full_pack_probes) {
    if (input.allocation == nullptr) {
        FrameAllocation allocation(input.blocks, input.plan, input.channels);
        FrameFitInput shared = input;
        shared.allocation = &allocation;
        return probe_fit(shared, csnroffst, output, full_pack_probes);
    }
    FrameAllocation& allocation = *input.allocation;
    if (!full_pack_probes) {
        const bool fits = frame_fits(input.blocks, input.plan, input.bitrate_kbps, input.dialnorm_db,
                                     input.channels, csnroffst, allocation);
        if (!fits || output == nullptr) return fits;
    }
    try {
        std::vector<uint8_t> frame = write_frame(input.blocks, input.plan, input.bitrate_kbps, input.dialnorm_db,
                                                 input.channels, csnroffst, allocation);
        if (output != nullptr) *output = std::move(frame);
        return true;
    } catch (const std::runtime_error& error) {
        if (is_size_overflow(error)) return false;
        throw;
    }
}

std::vector<uint8_t> fit_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const FramePlan& plan,
                               uint32_t bitrate_kbps, int32_t dialnorm_db, uint32_t channels,
                               bool full_pack_probes) {
    FrameAllocation allocation(blocks, plan, channels);
    const FrameFitInput input{blocks, plan, bitrate_kbps, dialnorm_db, channels, &allocation};
    std::vector<uint8_t> frame;
    if (probe_fit(input, kMaxCsnroffst, &frame, full_pack_probes)) return frame;
    if (!probe_fit(input, 0, nullptr, full_pack_probes))
        throw std::runtime_error("unable to fit AC-3 frame even at zero SNR allocation");
    // Largest fitting value in [0, 62]; the packed size never grows as csnroffst falls.
    int lo = 0;
    int hi = kMaxCsnroffst - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (probe_fit(input, static_cast<uint8_t>(mid), nullptr, full_pack_probes))
            lo = mid;
        else
            hi = mid - 1;
    }
    if (!probe_fit(input, static_cast<uint8_t>(lo), &frame, full_pack_probes))
        throw std::runtime_error("internal AC-3 SNR fit inconsistency");
    return frame;
}

}  // namespace oskavi
