#include "ac3/mantissa_tally.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

#include "ac3/bit_allocation_tables.h"
#include "ac3/short_runs.h"

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

// The decoder's per-band threshold: the mask lowered by the SNR offset and
// the floor, clipped at zero, truncated to the 0x1FE0 grid, floor added back.
i32 band_threshold(i32 mask, i32 snroffset, i32 floor) {
    i32 m = mask - snroffset - floor;
    if (m < 0) m = 0;
    return (m & 0x1FE0) + floor;
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

#if OSKAVI_AVX2_KERNELS
// The tally 32 bins at a time in AVX2. Every bin gets its band's base as a
// 16-bit lane, clamped to [kBaseLow, kBaseHigh]: for any 8-bit exponent a
// base below the range gives addresses below 0 and one above it addresses
// above 63, as the clamped ends do, so the clamped addresses are unchanged.
// Bins outside [start, end) get kBaseLow and so bap 0. The address picks its
// bap from four 16-entry tables; bap 1, 2 and 4 are counted and every other
// bap adds its width. Counting ignores the order of the bins.
constexpr i32 kBaseLow = -1;
constexpr i32 kBaseHigh = 63 + 4 * 255;

using ByteRow = std::array<uint8_t, 32>;  // one 16-byte table in both halves of a vector

constexpr std::array<ByteRow, 4> make_bap_rows() {
    std::array<ByteRow, 4> rows{};
    for (std::size_t address = 0; address < 64; ++address) {
        rows[address / 16][address % 16] = a52::baptab[address];
        rows[address / 16][address % 16 + 16] = a52::baptab[address];
    }
    return rows;
}
constexpr std::array<ByteRow, 4> kBapRows = make_bap_rows();

OSKAVI_AVX2_INLINE __m256i row(const ByteRow& r) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.data()));
}

// Bap of each of 32 addresses 0..63.
OSKAVI_AVX2_INLINE __m256i bap_of(__m256i address) {
    const __m256i nibble = _mm256_set1_epi8(15);
    const __m256i low = _mm256_and_si256(address, nibble);
    const __m256i quarter = _mm256_and_si256(_mm256_srli_epi16(address, 4), nibble);
    __m256i bap = _mm256_shuffle_epi8(row(kBapRows[0]), low);
    for (int q = 1; q < 4; ++q) {
        const __m256i in_quarter = _mm256_cmpeq_epi8(quarter, _mm256_set1_epi8(static_cast<char>(q)));
        bap = _mm256_blendv_epi8(bap, _mm256_shuffle_epi8(row(kBapRows[q]), low), in_quarter);
    }
    return bap;
}

// band_threshold's base (3072 - threshold) >> 5 for eight bands, clamped.
OSKAVI_AVX2_INLINE __m256i clamped_bases(__m256i mask, i32 snroffset, i32 floor) {
    const __m256i lowered = _mm256_max_epi32(_mm256_sub_epi32(mask, _mm256_set1_epi32(snroffset + floor)),
                                             _mm256_setzero_si256());
    const __m256i threshold = _mm256_add_epi32(_mm256_and_si256(lowered, _mm256_set1_epi32(0x1FE0)),
                                               _mm256_set1_epi32(floor));
    const __m256i b = _mm256_srai_epi32(_mm256_sub_epi32(_mm256_set1_epi32(3072), threshold), 5);
    return _mm256_min_epi32(_mm256_max_epi32(b, _mm256_set1_epi32(kBaseLow)), _mm256_set1_epi32(kBaseHigh));
}

// Unclamped addresses base - 4 * exponent of 16 bins, as 16-bit lanes
// (within -1021..1083, see kBaseLow and kBaseHigh).
OSKAVI_AVX2_INLINE __m256i address16(const uint8_t* exponents, const int16_t* base) {
    const __m256i exponent = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(exponents)));
    const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(base));
    return _mm256_sub_epi16(b, _mm256_slli_epi16(exponent, 2));
}

OSKAVI_AVX2_INLINE uint32_t lane_sum(__m256i v) {
    alignas(32) std::array<uint64_t, 4> lanes;
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.data()), v);
    return static_cast<uint32_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
}

// Each bin's band base for the 32-bin steps of a range, laid out for
// address16 beside the exponents' row: bins of those steps outside
// [start, end) get kBaseLow, and so bap 0 whatever their exponents.
struct BinBases {
    alignas(32) std::array<int16_t, kBinsPerBlock + 32> base;
    const uint8_t* e = nullptr;  // the whole row of kBinsPerBlock exponents
    uint32_t first_step = 0;     // the 32-bin steps from first_step to end - 1
};

OSKAVI_AVX2_INLINE void prepare_bins(BinExponents exponents, std::span<const int32_t, 50> band_mask,
                                     uint32_t start, uint32_t end, i32 floor, i32 snroffset, BinBases& bins) {
    const int first_band = a52::masktab[start];
    const int last_band = a52::masktab[end - 1];
    // Every band's base, eight at a time (bands outside the range are
    // computed from whatever their masks hold and never used).
    alignas(32) std::array<int16_t, 64> band_base;
    for (int band = 0; band < 48; band += 8) {
        const __m256i mask = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(band_mask.data() + band));
        const __m256i b = clamped_bases(mask, snroffset, floor);
        _mm_store_si128(reinterpret_cast<__m128i*>(band_base.data() + band),
                        _mm_packs_epi32(_mm256_castsi256_si128(b), _mm256_extracti128_si256(b, 1)));
    }
    for (int band = 48; band < a52::kBandCount; ++band) {
        // Outside the range a mask may hold anything: keep it out of scalar arithmetic.
        const bool in_range = band >= first_band && band <= last_band;
        const i32 b = in_range ? (3072 - band_threshold(band_mask[band], snroffset, floor)) >> 5 : kBaseLow;
        band_base[band] = static_cast<int16_t>(std::clamp(b, kBaseLow, kBaseHigh));
    }
    // Each bin's base: the one-bin bands copied, the wider ones broadcast in
    // ascending order (a store past a band's end is overwritten by the next
    // band's). Room for a whole 32-bin step from any multiple of 32 below
    // end, and for the second store of the 24-bin band at the top.
    std::copy(band_base.begin(), band_base.begin() + kFirstWideBand, bins.base.begin());
    // Unrolled, every store's place and count is a constant.
#pragma GCC unroll 22
    for (int band = kFirstWideBand; band < a52::kBandCount; ++band) {
        const __m256i lanes = _mm256_set1_epi16(band_base[band]);
        auto* at = reinterpret_cast<__m256i*>(bins.base.data() + a52::bndtab[band]);
        _mm256_storeu_si256(at, lanes);
        if (a52::bndsz[band] > 16) _mm256_storeu_si256(at + 1, lanes);
    }
    // Only the 32-bin steps from first_step to the one holding end - 1 are
    // read, all inside the row: the bins of those steps outside the range
    // get kBaseLow.
    static_assert(kBinsPerBlock % 32 == 0);
    bins.first_step = start / 32 * 32;
    const uint32_t last_step = (end - 1) / 32 * 32;
    fill_short(bins.base.data() + bins.first_step, start - bins.first_step, static_cast<int16_t>(kBaseLow));
    fill_short(bins.base.data() + end, last_step + 32 - end, static_cast<int16_t>(kBaseLow));
    bins.e = exponents.data();
}

// The baps of the 32 bins from i, in the order of the 16-bit packing: bins
// i..i+7, i+16..i+23, i+8..i+15, i+24..i+31 (the order a count ignores).
// The packing saturates the addresses to 0..255 (a negative one to 0), so
// one byte minimum completes the clamp to 0..63.
OSKAVI_AVX2_INLINE __m256i thirty_two_baps(const BinBases& bins, uint32_t i) {
    const __m256i saturated = _mm256_packus_epi16(address16(bins.e + i, bins.base.data() + i),
                                                  address16(bins.e + i + 16, bins.base.data() + i + 16));
    return bap_of(_mm256_min_epu8(saturated, _mm256_set1_epi8(63)));
}

// The counts need no baps: an address picks its share of the tally from
// 16-entry tables. Bap 1, 2 and 4 (and the small widths) sit at addresses
// below 16, read with the address itself; an address of 16 or more gets 0
// there (saturating 0x70 onto it sets the top bit, which makes a shuffle
// give 0). From address 15 on, the width steps every four addresses, so
// (address + 1) / 4 reads it. The addresses are clamped to 0..62, which
// changes nothing: 62 and 63 both give bap 15.
constexpr uint8_t kLastAddress = 62;
static_assert(a52::baptab[kLastAddress] == a52::baptab[63]);

constexpr bool is_grouped(uint8_t bap) { return bap == 1 || bap == 2 || bap == 4; }
constexpr uint8_t ungrouped_width(uint8_t bap) { return is_grouped(bap) ? 0 : a52::mant_width[bap]; }

// By address 0..15: bap 1 counts 1 and bap 2 counts 16 (two nibbles), bap 4
// counts 1 in its own row; widths of the addresses below 15.
struct LowAddressRows {
    ByteRow bap12{};
    ByteRow bap4{};
    ByteRow width{};
};

constexpr LowAddressRows make_low_address_rows() {
    LowAddressRows rows;
    for (std::size_t address = 0; address < 16; ++address) {
        const uint8_t bap = a52::baptab[address];
        const uint8_t bap12 = bap == 1 ? 1 : bap == 2 ? 16 : 0;
        const uint8_t width = address < 15 ? ungrouped_width(bap) : 0;
        rows.bap12[address] = rows.bap12[address + 16] = bap12;
        rows.bap4[address] = rows.bap4[address + 16] = bap == 4 ? 1 : 0;
        rows.width[address] = rows.width[address + 16] = width;
    }
    return rows;
}
constexpr LowAddressRows kLowAddressRows = make_low_address_rows();

// Width by (address + 1) / 4 for addresses 15..62, 0 below.
constexpr ByteRow make_high_widths() {
    ByteRow row{};
    for (std::size_t address = 15; address <= kLastAddress; ++address) {
        const std::size_t step = (address + 1) / 4;
        row[step] = row[step + 16] = ungrouped_width(a52::baptab[address]);
    }
    return row;
}
constexpr ByteRow kHighWidths = make_high_widths();

// Every address's share read back through the tables equals its bap's.
constexpr bool shares_match_baps() {
    for (std::size_t address = 0; address <= kLastAddress; ++address) {
        const uint8_t bap = a52::baptab[address];
        const bool low = address < 16;
        const uint8_t bap12 = low ? kLowAddressRows.bap12[address] : 0;
        const uint8_t bap4 = low ? kLowAddressRows.bap4[address] : 0;
        const uint8_t width = (low ? kLowAddressRows.width[address] : 0) + kHighWidths[(address + 1) / 4];
        if (bap12 != (bap == 1 ? 1 : bap == 2 ? 16 : 0) || bap4 != (bap == 4) || width != ungrouped_width(bap))
            return false;
    }
    return true;
}
static_assert(shares_match_baps());

// Byte lanes summed into four 64-bit lanes, then those added.
OSKAVI_AVX2_INLINE uint32_t byte_sum(__m256i bytes) { return lane_sum(_mm256_sad_epu8(bytes, _mm256_setzero_si256())); }

// The shares are summed in byte lanes: at most eight 32-bin steps, so a
// lane holds at most 8 counts of each nibble and 8 widths of at most 16.
OSKAVI_AVX2 MantissaTally tally_avx2(BinExponents exponents, std::span<const int32_t, 50> band_mask,
                                     uint32_t start, uint32_t end, i32 floor, i32 snroffset) {
    static_assert(kBinsPerBlock / 32 * 16 <= 255);
    BinBases bins;
    prepare_bins(exponents, band_mask, start, end, floor, snroffset, bins);
    const __m256i nibble = _mm256_set1_epi8(15);
    __m256i bap12 = _mm256_setzero_si256();
    __m256i bap4 = _mm256_setzero_si256();
    __m256i widths = _mm256_setzero_si256();
    for (uint32_t i = bins.first_step; i < end; i += 32) {
        const __m256i saturated = _mm256_packus_epi16(address16(bins.e + i, bins.base.data() + i),
                                                      address16(bins.e + i + 16, bins.base.data() + i + 16));
        const __m256i address = _mm256_min_epu8(saturated, _mm256_set1_epi8(kLastAddress));
        const __m256i low = _mm256_adds_epu8(address, _mm256_set1_epi8(0x70));
        const __m256i step = _mm256_and_si256(_mm256_srli_epi16(_mm256_add_epi8(address, _mm256_set1_epi8(1)), 2), nibble);
        bap12 = _mm256_add_epi8(bap12, _mm256_shuffle_epi8(row(kLowAddressRows.bap12), low));
        bap4 = _mm256_add_epi8(bap4, _mm256_shuffle_epi8(row(kLowAddressRows.bap4), low));
        widths = _mm256_add_epi8(widths, _mm256_add_epi8(_mm256_shuffle_epi8(row(kLowAddressRows.width), low),
                                                         _mm256_shuffle_epi8(row(kHighWidths), step)));
    }
    MantissaTally tally;
    tally.bap1 = byte_sum(_mm256_and_si256(bap12, nibble));
    tally.bap2 = byte_sum(_mm256_and_si256(_mm256_srli_epi16(bap12, 4), nibble));
    tally.bap4 = byte_sum(bap4);
    tally.bits = byte_sum(widths);
    return tally;
}

// baps_into's baps, 32 bins at a time, into a scratch row first: only the
// bins of [start, end) reach `out`.
OSKAVI_AVX2 void baps_avx2(uint8_t* out, BinExponents exponents, std::span<const int32_t, 50> band_mask,
                           uint32_t start, uint32_t end, i32 floor, i32 snroffset) {
    BinBases bins;
    prepare_bins(exponents, band_mask, start, end, floor, snroffset, bins);
    alignas(32) std::array<uint8_t, kBinsPerBlock> baps;
    for (uint32_t i = bins.first_step; i < end; i += 32)
        _mm256_store_si256(reinterpret_cast<__m256i*>(baps.data() + i),
                           _mm256_permute4x64_epi64(thirty_two_baps(bins, i), 0xD8));  // back in bin order
    copy_short(out + start, baps.data() + start, end - start);
}
#else
MantissaTally tally_avx2(BinExponents, std::span<const int32_t, 50>, uint32_t, uint32_t, i32, i32) { return {}; }
void baps_avx2(uint8_t*, BinExponents, std::span<const int32_t, 50>, uint32_t, uint32_t, i32, i32) {}
#endif

}  // namespace

MantissaTally tally_mantissas(BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
                              uint32_t end, int32_t floor, uint8_t csnroffst, uint8_t fsnroffst, TallyKernel kernel) {
    check_offsets(csnroffst, fsnroffst);
    if (csnroffst == 0 && fsnroffst == 0) return MantissaTally{};
    // With psd = 3072 - 32 * (4 * exponent) the address (psd - threshold) >> 5
    // is ((3072 - threshold) >> 5) - 4 * exponent exactly (an arithmetic
    // shift floors, and the subtrahend is a multiple of 32). Each band's base
    // first, then one pass over the bins with no band boundaries in it.
    if (kernel == TallyKernel::Fastest && processor_has_avx2())
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
    if (kernel == TallyKernel::Fastest && processor_has_avx2())
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
    if (kernel == TallyKernel::Fastest && processor_has_avx2()) {
        baps_avx2(out, exponents, band_mask, start, end, floor, snr_offset(csnroffst, fsnroffst));
        return;
    }
    const auto psd_at = [exponents](uint32_t bin) { return psd_of(exponents[bin]); };
    for_each_address(psd_at, band_mask.data(), start, end, floor, snr_offset(csnroffst, fsnroffst),
                     [out](uint32_t bin, i32 address) { out[bin] = a52::baptab[address]; });
}

}  // namespace oskavi
