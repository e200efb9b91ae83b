#pragma once
// The masking half of the A/52 bit allocation (excitation with its leaks and
// low-frequency compensation, the dbknee correction, the hearing threshold)
// for several full-bandwidth allocations at once. The exponent-strategy
// search masks dozens of candidate sets per channel and frame; each mask is
// a chain of dependent steps band after band, so eight candidates go side
// by side, one per vector lane.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ac3/bit_allocation.h"

namespace oskavi {

inline constexpr std::size_t kMaskLanes = 8;

using BandMask = std::array<int32_t, 50>;

enum class MaskKernel { Fastest, Plain };

// masks[i] = band_mask_from_psd(bndpsd[i], end, params) for every row, at
// most kMaskLanes of them (the entries of bands beyond the range are
// unspecified). Throws "invalid bit-allocation parameter" for codes out of
// range and "invalid bit-allocation mantissa range" for an empty or too long
// range or a row count above kMaskLanes or unequal to the masks'.
void band_masks_from_psd(std::span<const BandPsd> bndpsd, uint32_t end, const BitAllocParams& params,
                         std::span<BandMask> masks, MaskKernel kernel = MaskKernel::Fastest);

}  // namespace oskavi
