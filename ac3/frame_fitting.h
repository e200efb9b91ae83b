#pragma once
// Makes a packed frame fit the fixed frame size of its bit rate by searching
// the coarse SNR offset (csnroffst) shared by all channels of the frame.

#include <cstdint>
#include <vector>

#include "ac3/frame_packer.h"

namespace oskavi {

class FrameAllocation;

// Packs the frame at csnroffst. With `output` its bytes land there when the
// frame fits: the size-only pass decides, and the full pack runs only for a
// frame that fits (both count the same bits). Without `output` the size-only
// pass answers. Full pack probes run the full pack every time and read its
// FrameSizeOverflow as "does not fit". `allocation` (bound to the frame's
// blocks and plan) is shared by all probes of one search; without it the
// probe starts from scratch (same answer, more work).
bool probe_fit(const FrameContext& frame, uint8_t csnroffst, std::vector<uint8_t>* output, bool full_pack_probes,
               FrameAllocation* allocation = nullptr);

// The frame packed at the largest csnroffst that fits. Throws FrameUnfittable
// when even 0 is too large.
std::vector<uint8_t> fit_frame(const FrameContext& frame, bool full_pack_probes);

}  // namespace oskavi
