#include "ac3/frame_fitting.h"

#include <stdexcept>

#include "ac3/encoder_errors.h"
#include "ac3/frame_allocation.h"

namespace oskavi {

bool probe_fit(const FrameContext& frame, uint8_t csnroffst, std::vector<uint8_t>* output, bool full_pack_probes,
               FrameAllocation* allocation) {
    if (allocation == nullptr) {
        FrameAllocation own(frame.blocks, frame.plan, frame.channels);
        return probe_fit(frame, csnroffst, output, full_pack_probes, &own);
    }
    if (!full_pack_probes) {
        const bool fits = frame_fits(frame, csnroffst, *allocation);
        if (!fits || output == nullptr) return fits;
    }
    try {
        std::vector<uint8_t> bytes = write_frame(frame, csnroffst, *allocation);
        if (output != nullptr) *output = std::move(bytes);
        return true;
    } catch (const FrameSizeOverflow&) {
        return false;
    }
}

std::vector<uint8_t> fit_frame(const FrameContext& frame, bool full_pack_probes) {
    FrameAllocation allocation(frame.blocks, frame.plan, frame.channels);
    const auto probe = [&](int csnroffst, std::vector<uint8_t>* output) {
        return probe_fit(frame, static_cast<uint8_t>(csnroffst), output, full_pack_probes, &allocation);
    };
    std::vector<uint8_t> bytes;
    if (probe(kMaxCsnroffst, &bytes)) return bytes;
    if (!probe(0, nullptr)) throw FrameUnfittable();
    // Largest fitting value in [0, 62]; the packed size never grows as csnroffst falls.
    int lo = 0;
    int hi = kMaxCsnroffst - 1;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (probe(mid, nullptr))
            lo = mid;
        else
            hi = mid - 1;
    }
    if (!probe(lo, &bytes)) throw std::runtime_error("internal AC-3 SNR fit inconsistency");
    return bytes;
}

}  // namespace oskavi
