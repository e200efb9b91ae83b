#pragma once
// Decoder-equivalent A/52 parametric bit allocation at 48 kHz (fscod 0),
// without delta bit allocation, and the mantissa payload of one block.

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "ac3/exponent_set.h"

namespace oskavi {

// Bands below this one are one bin wide (band b is bin b); the 22 from it
// on are 3 to 24 bins wide.
inline constexpr int kFirstWideBand = 28;

// In a set whose bins 1 + GroupSize * i .. GroupSize * (i + 1) share one
// exponent (every D15, D25 or D45 set: GroupSize 1, 2 or 4), the end of the
// run of equal exponents that starts at `bin` (above 0) inside a band
// ending at `last`: the next bin b with (b - 1) a multiple of GroupSize, or
// `last`.
template <uint32_t GroupSize>
constexpr uint32_t exponent_step_end(uint32_t bin, uint32_t last) {
    return std::min(last, ((bin - 1) | (GroupSize - 1)) + 2);
}

struct BitAllocParams {
    uint8_t sdcycod = 2;
    uint8_t fdcycod = 1;
    uint8_t sgaincod = 1;
    uint8_t dbpbcod = 2;
    uint8_t floorcod = 4;
    uint8_t fgaincod = 4;
    uint8_t csnroffst = 0;
    uint8_t fsnroffst = 0;
};

// A bap per bin; bins outside the allocated range hold 0. `size` equals the
// length of the exponent vector the baps were computed from.
struct BapVector {
    std::array<uint8_t, kBinsPerBlock> values{};
    uint16_t size = 0;
};

BapVector allocate_bits(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                        const BitAllocParams& params);

BapVector allocate_coupling_bits(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                                 const BitAllocParams& params, uint8_t cplfleak, uint8_t cplsleak);

// The SNR-independent half of the allocation: the per-bin power spectral
// density and the per-band masking curve (excitation raised by the dbknee
// correction and limited below by the hearing threshold). Baps for any
// csnroffst/fsnroffst follow from it cheaply, so a caller probing many SNR
// offsets over the same exponents computes this once.
struct BitAllocationMask {
    std::array<int32_t, kBinsPerBlock> psd{};
    std::array<int32_t, 50> mask{};  // indexed by band; valid for the bands of [start, end)
    int32_t floor = 0;               // floortab[floorcod]
    uint16_t start = 0;
    uint16_t end = 0;
    uint16_t size = 0;  // length of the exponent vector
};

// params.csnroffst/fsnroffst are range-checked but otherwise unused.
BitAllocationMask compute_allocation_mask(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                                          const BitAllocParams& params);
// The band masks alone of compute_allocation_mask over [0, end) (its `mask`,
// into `mask`), for callers that need no psd; returns its `floor`. The
// exponents are a transmitted set whose bins 1 + group_size * i ..
// group_size * (i + 1) hold one exponent each (every D15, D25 or D45 set:
// group_size 1, 2 or 4); each such run inside a band is log-added in one
// step. Throws "invalid exponent group size" for any other group size.
int32_t compute_stepped_band_mask(std::span<const uint8_t> exponents, uint32_t group_size, uint32_t end,
                                  const BitAllocParams& params, std::span<int32_t, 50> mask);

// compute_stepped_band_mask in its two halves, for a caller that masks many
// sets at once (see band_masks.h): the band psd of a stepped set over
// [0, end), the log-added psd of each band's bins (entries beyond the range
// hold whatever the summation left there), and the band masks of such a
// band psd. stepped_band_psd checks its arguments as
// compute_stepped_band_mask does and returns the floor.
using BandPsd = std::array<int32_t, 51>;  // by band, one spare entry past the last
int32_t stepped_band_psd(std::span<const uint8_t> exponents, uint32_t group_size, uint32_t end,
                         const BitAllocParams& params, BandPsd& bndpsd);
void band_mask_from_psd(const BandPsd& bndpsd, uint32_t end, const BitAllocParams& params,
                        std::span<int32_t, 50> mask);

BitAllocationMask compute_coupling_allocation_mask(std::span<const uint8_t> exponents, uint32_t start,
                                                   uint32_t end, const BitAllocParams& params,
                                                   uint8_t cplfleak, uint8_t cplsleak);

// Baps from a mask; csnroffst 0 with fsnroffst 0 gives all zeros.
BapVector baps_from_mask(const BitAllocationMask& mask, uint8_t csnroffst, uint8_t fsnroffst);

// Mantissa bits of one audio block whose channels are given in transmission
// order; bap 1, 2 and 4 mantissas are grouped across channel boundaries.
uint32_t count_mantissa_bits(std::span<const BapVector* const> baps);

uint32_t mantissa_width(uint8_t bap);

}  // namespace oskavi
