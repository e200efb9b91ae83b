#include "ac3/mantissa_tally.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>

#include "ac3/bit_allocation_tables.h"
#include "ac3/mantissa_tally_avx2.h"
#include "platform/processor_features.h"

namespace oskavi {
namespace {

using i32 = int32_t;

// One allocation address (0..63) packed as its bap's share of a tally: bits
// 0..15 count bap 1, bits 16..31 bap 2, bits 32..47 bap 4, bits 48..63 hold
// the width of any other bap. A channel has at most 253 bins, so no field of
// a per-channel sum overflows (253 * 16 bits < 2^16).
constexpr std::array<uint64_t, 64> make_address_weights() {
    std::array<uint64_t, 64> weights{};
    for (std::size_t address = 0; address < weights.size(); ++address) {
        const uint8_t bap = a52::baptab[address];
        switch (bap) {
            case 1: weights[address] = uint64_t{1}; break;
            case 2: weights[address] = uint64_t{1} << 16; break;
            case 4: weights[address] = uint64_t{1} << 32; break;
            default: weights[address] = uint64_t{a52::mant_width[bap]} << 48; break;
        }
    }
    return weights;
}

constexpr std::array<uint64_t, 64> kAddressWeights = make_address_weights();

// The same weights by unclamped address base - 4 * exponent, for band bases
// in [-kBaseReach, kBaseReach] and any 8-bit exponent: entry
// address + kLowestAddress is the weight of the clamped address, so the
// per-bin clamp becomes part of the lookup.
constexpr i32 kBaseReach = 256;
constexpr i32 kLowestAddress = -kBaseReach - 4 * 255;
constexpr std::size_t kUnclampedCount = static_cast<std::size_t>(kBaseReach - kLowestAddress + 1);

constexpr std::array<uint64_t, kUnclampedCount> make_unclamped_weights() {
    std::array<uint64_t, kUnclampedCount> weights{};
    for (std::size_t i = 0; i < weights.size(); ++i) {
        const i32 address = static_cast<i32>(i) + kLowestAddress;
        weights[i] = kAddressWeights[static_cast<std::size_t>(std::clamp(address, i32{0}, i32{63}))];
    }
    return weights;
}

constexpr std::array<uint64_t, kUnclampedCount> kUnclampedWeights = make_unclamped_weights();

void check_offsets(uint8_t csnroffst, uint8_t fsnroffst) {
    if (csnroffst > 63 || fsnroffst > 15) throw std::runtime_error("invalid bit-allocation parameter");
}

i32 snr_offset(uint8_t csnroffst, uint8_t fsnroffst) {
    return (((i32{csnroffst} - 15) << 4) + i32{fsnroffst}) << 2;
}


i32 psd_of(uint8_t exponent) { return 3072 - (i32{exponent} << 7); }

i32 address_of(i32 psd, i32 threshold) { return std::clamp((psd - threshold) >> 5, i32{0}, i32{63}); }

// Calls visit(bin, address) for every bin of [start, end), band by band.
template <typename PsdAt, typename Visit>
void for_each_address(PsdAt psd_at, const int32_t* band_mask, uint32_t start, uint32_t end, i32 floor,
                      i32 snroffset, Visit visit) {
    uint32_t bin = start;
    for (int band = a52::masktab[start]; bin < end; ++band) {
        const uint32_t last = std::min<uint32_t>(a52::bndtab[band] + a52::bndsz[band], end);
        const i32 threshold = band_threshold(band_mask[band], snroffset, floor);
        for (; bin < last; ++bin) visit(bin, address_of(psd_at(bin), threshold));
    }
}

MantissaTally unpack(uint64_t packed) {
    MantissaTally tally;
    tally.bap1 = static_cast<uint32_t>(packed & 0xFFFF);
    tally.bap2 = static_cast<uint32_t>((packed >> 16) & 0xFFFF);
    tally.bap4 = static_cast<uint32_t>((packed >> 32) & 0xFFFF);
    tally.bits = static_cast<uint32_t>(packed >> 48);
    return tally;
}

// The weight of address base - 4 * exponent, clamped to 0..63.
uint64_t clamped_weight(i32 base, uint8_t exponent) {
    return kAddressWeights[static_cast<std::size_t>(std::clamp(base - 4 * i32{exponent}, i32{0}, i32{63}))];
}

template <typename PsdAt>
MantissaTally tally_with(PsdAt psd_at, const int32_t* band_mask, uint32_t start, uint32_t end, i32 floor,
                         uint8_t csnroffst, uint8_t fsnroffst) {
    check_offsets(csnroffst, fsnroffst);
    // csnroffst 0 with fsnroffst 0: every bap is 0.
    if (csnroffst == 0 && fsnroffst == 0) return MantissaTally{};
    uint64_t packed = 0;
    for_each_address(psd_at, band_mask, start, end, floor, snr_offset(csnroffst, fsnroffst),
                     [&packed](uint32_t, i32 address) { packed += kAddressWeights[address]; });
    return unpack(packed);
}

}  // namespace

uint32_t tally_bits(const MantissaTally& t) {
    return 5 * ((t.bap1 + 2) / 3) + 7 * ((t.bap2 + 2) / 3) + 7 * ((t.bap4 + 1) / 2) + t.bits;
}

MantissaTally tally_mantissas(const BitAllocationMask& mask, uint8_t csnroffst, uint8_t fsnroffst) {
    const auto psd_at = [&mask](uint32_t bin) { return mask.psd[bin]; };
    return tally_with(psd_at, mask.mask.data(), mask.start, mask.end, mask.floor, csnroffst, fsnroffst);
}

namespace {

// Each band's base (3072 - threshold) >> 5 for bands [first_band, last_band];
// false when one lies beyond the unclamped table's reach (only a floor not
// from floortab can put it there).
bool band_bases(std::span<const int32_t, 50> band_mask, int first_band, int last_band, i32 snroffset, i32 floor,
                std::array<i32, a52::kBandCount>& base) {
    bool reachable = true;
    for (int band = first_band; band <= last_band; ++band) {
        base[band] = (3072 - band_threshold(band_mask[band], snroffset, floor)) >> 5;
        reachable = reachable && base[band] >= -kBaseReach && base[band] <= kBaseReach;
    }
    return reachable;
}

// The weight of a bin of a band whose base is within reach.
uint64_t reachable_weight(i32 base, uint8_t exponent) {
    return kUnclampedWeights[static_cast<std::size_t>(base - kLowestAddress - 4 * i32{exponent})];
}

// Bin by bin over [start, end) from the band bases.
uint64_t tally_bins(const uint8_t* exponents, const std::array<i32, a52::kBandCount>& base, bool reachable,
                    uint32_t start, uint32_t end) {
    uint64_t packed = 0;
    if (reachable) {
        for (uint32_t bin = start; bin < end; ++bin) {
            packed += reachable_weight(base[a52::masktab[bin]], exponents[bin]);
        }
    } else {
        for (uint32_t bin = start; bin < end; ++bin) packed += clamped_weight(base[a52::masktab[bin]], exponents[bin]);
    }
    return packed;
}

// tally_stepped_mantissas for one group size, bases within reach. Bins of
// one step inside one band share psd and threshold, so their address: each
// such run adds its weight times its length (no field of the packed sum can
// overflow, as above).
template <uint32_t GroupSize>
uint64_t tally_steps(const uint8_t* exponents, const std::array<i32, a52::kBandCount>& base, uint32_t end) {
    const uint32_t narrow_end = std::min<uint32_t>(end, kFirstWideBand);
    uint64_t packed = tally_bins(exponents, base, true, 0, narrow_end);
    for (int band = kFirstWideBand; band < a52::kBandCount && a52::bndtab[band] < end; ++band) {
        uint32_t bin = a52::bndtab[band];
        const uint32_t last = std::min<uint32_t>(bin + a52::bndsz[band], end);
        const uint64_t* weights = kUnclampedWeights.data() + (base[band] - kLowestAddress);
        while (bin < last) {
            const uint32_t run_end = exponent_step_end<GroupSize>(bin, last);
            packed += *(weights - 4 * std::ptrdiff_t{exponents[bin]}) * (run_end - bin);
            bin = run_end;
        }
    }
    return packed;
}

// Whether the byte-lane kernel counts this row: asked for, the processor has
// AVX2, and no exponent of the row is above 24 (as none a decoder can hold is).
bool byte_kernel_for(BinExponents exponents, TallyKernel kernel) {
    return kernel == TallyKernel::Fastest && processor_has_avx2() &&
           row_largest_avx2(exponents) <= kLargestByteExponent;
}

}  // namespace

MantissaTally tally_mantissas(BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
                              uint32_t end, int32_t floor, uint8_t csnroffst, uint8_t fsnroffst, TallyKernel kernel) {
    check_offsets(csnroffst, fsnroffst);
    if (csnroffst == 0 && fsnroffst == 0) return MantissaTally{};
    // With psd = 3072 - 32 * (4 * exponent) the address (psd - threshold) >> 5
    // is ((3072 - threshold) >> 5) - 4 * exponent exactly (an arithmetic
    // shift floors, and the subtrahend is a multiple of 32). Each band's base
    // first, then one pass over the bins with no band boundaries in it.
    if (byte_kernel_for(exponents, kernel))
        return tally_avx2(exponents, band_mask, start, end, floor, snr_offset(csnroffst, fsnroffst));
    std::array<i32, a52::kBandCount> base;
    const bool reachable = band_bases(band_mask, a52::masktab[start], a52::masktab[end - 1],
                                      snr_offset(csnroffst, fsnroffst), floor, base);
    return unpack(tally_bins(exponents.data(), base, reachable, start, end));
}

MantissaTally tally_stepped_mantissas(BinExponents exponents, uint32_t group_size,
                                      std::span<const int32_t, 50> band_mask, uint32_t end, int32_t floor,
                                      uint8_t csnroffst, uint8_t fsnroffst, TallyKernel kernel) {
    check_offsets(csnroffst, fsnroffst);
    if (group_size != 1 && group_size != 2 && group_size != 4) throw std::runtime_error("invalid exponent group size");
    if (csnroffst == 0 && fsnroffst == 0) return MantissaTally{};
    // Bin by bin in vectors is faster still than run by run.
    if (byte_kernel_for(exponents, kernel))
        return tally_avx2(exponents, band_mask, 0, end, floor, snr_offset(csnroffst, fsnroffst));
    std::array<i32, a52::kBandCount> base;
    const bool reachable =
        band_bases(band_mask, 0, a52::masktab[end - 1], snr_offset(csnroffst, fsnroffst), floor, base);
    if (!reachable || group_size == 1) return unpack(tally_bins(exponents.data(), base, reachable, 0, end));
    return unpack(group_size == 2 ? tally_steps<2>(exponents.data(), base, end)
                                   : tally_steps<4>(exponents.data(), base, end));
}

void baps_into(uint8_t* out, BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
               uint32_t end, int32_t floor, uint8_t csnroffst, uint8_t fsnroffst, TallyKernel kernel) {
    check_offsets(csnroffst, fsnroffst);
    if (csnroffst == 0 && fsnroffst == 0) {
        std::fill(out + start, out + end, uint8_t{0});
        return;
    }
    if (byte_kernel_for(exponents, kernel)) {
        baps_avx2(out, exponents, band_mask, start, end, floor, snr_offset(csnroffst, fsnroffst));
        return;
    }
    const auto psd_at = [exponents](uint32_t bin) { return psd_of(exponents[bin]); };
    for_each_address(psd_at, band_mask.data(), start, end, floor, snr_offset(csnroffst, fsnroffst),
                     [out](uint32_t bin, i32 address) { out[bin] = a52::baptab[address]; });
}

}  // namespace oskavi
