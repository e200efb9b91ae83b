#pragma once
// Mantissa payload of the baps that a masking curve yields at given SNR
// offsets, counted without storing the baps. The fit search and the
// exponent-strategy cost model ask this question many times per frame.

#include <cstdint>
#include <span>

#include "ac3/bit_allocation.h"

namespace oskavi {

// Mantissas of bap 1, 2 and 4 (grouped in the stream) by count, and the
// bits of all other mantissas. Tallies of the channels of one block add up;
// the grouping is applied once per block by tally_bits.
struct MantissaTally {
    uint32_t bap1 = 0;
    uint32_t bap2 = 0;
    uint32_t bap4 = 0;
    uint32_t bits = 0;

    MantissaTally& operator+=(const MantissaTally& other) {
        bap1 += other.bap1;
        bap2 += other.bap2;
        bap4 += other.bap4;
        bits += other.bits;
        return *this;
    }
};

// Bits of one block's mantissas: three bap 1 codes share 5 bits, three bap 2
// codes 7 bits, two bap 4 codes 7 bits, an incomplete group costs a whole
// one. Equals count_mantissa_bits of the same baps.
uint32_t tally_bits(const MantissaTally& tally);

// The tally of baps_from_mask(mask, csnroffst, fsnroffst). Throws "invalid
// bit-allocation parameter" for csnroffst above 63 or fsnroffst above 15.
MantissaTally tally_mantissas(const BitAllocationMask& mask, uint8_t csnroffst, uint8_t fsnroffst);

// A block's exponents, one per bin, the whole row: the vector kernels read
// it in whole 32-bin steps, whatever part of it a range covers.
using BinExponents = std::span<const uint8_t, kBinsPerBlock>;

// Which code counts: the fastest the processor runs (32 bins at a time where
// it has AVX2), or the plain one (the reference the other is tested against).
enum class TallyKernel { Fastest, Plain };

// The same from the exponents themselves (psd = 3072 - (exponent << 7)) and
// the band masks of a BitAllocationMask computed from them; bins [start, end).
MantissaTally tally_mantissas(BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
                              uint32_t end, int32_t floor, uint8_t csnroffst, uint8_t fsnroffst,
                              TallyKernel kernel = TallyKernel::Fastest);

// The same over bins [0, end) of a transmitted exponent set whose bins
// 1 + group_size * i .. group_size * (i + 1) hold one exponent each (every
// D15, D25 or D45 set: group_size 1, 2 or 4), counting each run of equal
// exponents inside a band at once. Throws "invalid exponent group size" for
// any other group size.
MantissaTally tally_stepped_mantissas(BinExponents exponents, uint32_t group_size,
                                      std::span<const int32_t, 50> band_mask, uint32_t end, int32_t floor,
                                      uint8_t csnroffst, uint8_t fsnroffst, TallyKernel kernel = TallyKernel::Fastest);

// Baps of bins [start, end) into out[start..end) from the same inputs; equal
// to baps_from_mask on that range.
void baps_into(uint8_t* out, BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
               uint32_t end, int32_t floor, uint8_t csnroffst, uint8_t fsnroffst,
               TallyKernel kernel = TallyKernel::Fastest);

}  // namespace oskavi
