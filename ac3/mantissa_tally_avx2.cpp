#include "ac3/mantissa_tally_avx2.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "ac3/bit_allocation_tables.h"
#include "ac3/byte_lanes.h"
#include "ac3/short_runs.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

#if OSKAVI_AVX2_KERNELS
namespace {

using i32 = int32_t;

// The tally 32 bins at a time in AVX2, in byte lanes. With every exponent
// at most 24 the clamped address clamp(base - 4 * exponent, 0, 63) needs
// only bases in 0..159: a band base at or below 0 gives address 0 for every
// exponent, and one at or above 159 gives 63 or more (clamped). So the bases
// are clamped to that range, fit a byte, and an unsigned saturating
// subtraction of 4 * exponent gives the address clamped at 0. Each bin's
// base is its band's, picked by a byte shuffle from the 16 bands from the
// first band of its 16-bin half (the bands of 16 neighbouring bins are
// consecutive and at most 16). Bins outside [start, end) get base 0, and so
// bap 0.
constexpr i32 kByteBaseHigh = 159;
static_assert(kByteBaseHigh - 4 * kLargestByteExponent == 63);

using ByteRow = std::array<uint8_t, 32>;  // one 16-byte table in both halves of a vector

OSKAVI_AVX2_INLINE __m256i row(const ByteRow& r) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r.data()));
}

// The band of each bin of a block's 256 (the bins past the last band count
// as its band: they lie outside every range).
constexpr int band_of(std::size_t bin) { return a52::masktab[std::min<std::size_t>(bin, a52::masktab.size() - 1)]; }

// For each 16-bin half of the block: its first band, and each bin's band
// counted from it, the halves of a 32-bin step side by side.
struct HalfBands {
    std::array<uint8_t, kBinsPerBlock / 16> first{};
    std::array<ByteRow, kBinsPerBlock / 32> offset{};
    bool fit = true;  // every offset below 16
};

constexpr HalfBands make_half_bands() {
    HalfBands h;
    for (std::size_t bin = 0; bin < kBinsPerBlock; ++bin) {
        const std::size_t half = bin / 16;
        if (bin % 16 == 0) h.first[half] = static_cast<uint8_t>(band_of(bin));
        const int offset = band_of(bin) - h.first[half];
        h.fit = h.fit && offset >= 0 && offset < 16;
        h.offset[bin / 32][bin % 32] = static_cast<uint8_t>(offset);
    }
    return h;
}
constexpr HalfBands kHalfBands = make_half_bands();
static_assert(kHalfBands.fit);

// 32 bytes of 0 then 32 of 255, and the reverse: a load from either at
// 32 - k gives lanes from k, or lanes below k, set.
constexpr std::array<uint8_t, 64> make_edge(bool rising) {
    std::array<uint8_t, 64> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = (i >= 32) == rising ? 255 : 0;
    return bytes;
}
constexpr std::array<uint8_t, 64> kRisingEdge = make_edge(true);
constexpr std::array<uint8_t, 64> kFallingEdge = make_edge(false);

// band_threshold's base (3072 - threshold) >> 5 for eight bands, clamped to 0..kByteBaseHigh.
OSKAVI_AVX2_INLINE __m256i clamped_bases(__m256i mask, i32 snroffset, i32 floor) {
    const __m256i lowered = _mm256_max_epi32(_mm256_sub_epi32(mask, _mm256_set1_epi32(snroffset + floor)),
                                             _mm256_setzero_si256());
    const __m256i threshold = _mm256_add_epi32(_mm256_and_si256(lowered, _mm256_set1_epi32(0x1FE0)),
                                               _mm256_set1_epi32(floor));
    const __m256i b = _mm256_srai_epi32(_mm256_sub_epi32(_mm256_set1_epi32(3072), threshold), 5);
    return _mm256_min_epi32(_mm256_max_epi32(b, _mm256_setzero_si256()), _mm256_set1_epi32(kByteBaseHigh));
}

// Sixteen bands' clamped bases as bytes.
OSKAVI_AVX2_INLINE __m128i sixteen_bases(const int32_t* mask, i32 snroffset, i32 floor) {
    const __m256i low = clamped_bases(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask)), snroffset, floor);
    const __m256i high =
        clamped_bases(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + 8)), snroffset, floor);
    const __m128i words_low = _mm_packs_epi32(_mm256_castsi256_si128(low), _mm256_extracti128_si256(low, 1));
    const __m128i words_high = _mm_packs_epi32(_mm256_castsi256_si128(high), _mm256_extracti128_si256(high, 1));
    return _mm_packus_epi16(words_low, words_high);
}

// What the 32-bin steps of a range read: every band's clamped base as a
// byte (with room for a 16-byte load from any band), the exponents' row,
// and the range.
struct ByteBases {
    alignas(16) std::array<uint8_t, 64 + 16> band{};
    const uint8_t* e = nullptr;  // the whole row of kBinsPerBlock exponents
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t first_step = 0;  // the 32-bin steps from first_step to end - 1
};

OSKAVI_AVX2_INLINE void prepare_bases(BinExponents exponents, std::span<const int32_t, 50> band_mask, uint32_t start,
                                      uint32_t end, i32 floor, i32 snroffset, ByteBases& b) {
    // Every band's base (bands outside the range are computed from whatever
    // their masks hold and never used: their bins are outside it too).
    for (int band = 0; band < 48; band += 16) {
        _mm_store_si128(reinterpret_cast<__m128i*>(b.band.data() + band),
                        sixteen_bases(band_mask.data() + band, snroffset, floor));
    }
    for (int band = 48; band < a52::kBandCount; ++band) {
        // Outside the range a mask may hold anything: keep it out of scalar arithmetic.
        const bool in_range = band >= a52::masktab[start] && band <= a52::masktab[end - 1];
        const i32 base = in_range ? (3072 - band_threshold(band_mask[band], snroffset, floor)) >> 5 : 0;
        b.band[band] = static_cast<uint8_t>(std::clamp(base, i32{0}, kByteBaseHigh));
    }
    b.e = exponents.data();
    b.start = start;
    b.end = end;
    b.first_step = start / 32 * 32;
}

// A 32-byte vector read from `bytes` at `offset`.
OSKAVI_AVX2_INLINE __m256i load32(const uint8_t* bytes, std::ptrdiff_t offset = 0) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + offset));
}

// Addresses 0..last_address of the 32 bins from i, in bin order.
OSKAVI_AVX2_INLINE __m256i thirty_two_addresses(const ByteBases& b, uint32_t i, uint8_t last_address) {
    const std::size_t half = i / 16;
    const auto bands_from = [&b](std::size_t h) {
        return reinterpret_cast<const __m128i*>(b.band.data() + kHalfBands.first[h]);
    };
    __m256i base = _mm256_shuffle_epi8(_mm256_loadu2_m128i(bands_from(half + 1), bands_from(half)),
                                       row(kHalfBands.offset[i / 32]));
    if (i < b.start || i + 32 > b.end) {
        // Lane j is in the range when i + j lies in [start, end).
        const auto at = [i](uint32_t bin) { return 32 - std::ptrdiff_t{std::clamp<uint32_t>(bin, i, i + 32) - i}; };
        base = _mm256_and_si256(base, _mm256_and_si256(load32(kRisingEdge.data(), at(b.start)),
                                                       load32(kFallingEdge.data(), at(b.end))));
    }
    // 4 * exponent byte by byte: exponents below 64 lose no bit to the next byte.
    const __m256i four_e = _mm256_slli_epi16(load32(b.e, i), 2);
    return _mm256_min_epu8(_mm256_subs_epu8(base, four_e), _mm256_set1_epi8(static_cast<char>(last_address)));
}

// The largest exponent of a whole row.
OSKAVI_AVX2_INLINE uint8_t row_largest(BinExponents exponents) {
    __m256i largest = _mm256_setzero_si256();
    for (std::size_t i = 0; i < kBinsPerBlock; i += 32)
        largest = _mm256_max_epu8(largest, load32(exponents.data(), static_cast<std::ptrdiff_t>(i)));
    return largest_byte(largest);
}

constexpr std::array<ByteRow, 4> make_bap_rows() {
    std::array<ByteRow, 4> rows{};
    for (std::size_t address = 0; address < 64; ++address) {
        rows[address / 16][address % 16] = a52::baptab[address];
        rows[address / 16][address % 16 + 16] = a52::baptab[address];
    }
    return rows;
}
constexpr std::array<ByteRow, 4> kBapRows = make_bap_rows();

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

OSKAVI_AVX2_INLINE uint32_t lane_sum(__m256i v) {
    alignas(32) std::array<uint64_t, 4> lanes;
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes.data()), v);
    return static_cast<uint32_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
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

}  // namespace

// The shares are summed in byte lanes: at most eight 32-bin steps, so a
// lane holds at most 8 counts of each nibble and 8 widths of at most 16.
OSKAVI_AVX2 MantissaTally tally_avx2(BinExponents exponents, std::span<const int32_t, 50> band_mask,
                                     uint32_t start, uint32_t end, i32 floor, i32 snroffset) {
    static_assert(kBinsPerBlock / 32 * 16 <= 255);
    ByteBases bases;
    prepare_bases(exponents, band_mask, start, end, floor, snroffset, bases);
    const __m256i nibble = _mm256_set1_epi8(15);
    __m256i bap12 = _mm256_setzero_si256();
    __m256i bap4 = _mm256_setzero_si256();
    __m256i widths = _mm256_setzero_si256();
    for (uint32_t i = bases.first_step; i < end; i += 32) {
        const __m256i address = thirty_two_addresses(bases, i, kLastAddress);
        const __m256i low = _mm256_adds_epu8(address, _mm256_set1_epi8(0x70));
        const __m256i step =
            _mm256_and_si256(_mm256_srli_epi16(_mm256_add_epi8(address, _mm256_set1_epi8(1)), 2), nibble);
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
    ByteBases bases;
    prepare_bases(exponents, band_mask, start, end, floor, snroffset, bases);
    alignas(32) std::array<uint8_t, kBinsPerBlock> baps;
    for (uint32_t i = bases.first_step; i < end; i += 32)
        _mm256_store_si256(reinterpret_cast<__m256i*>(baps.data() + i), bap_of(thirty_two_addresses(bases, i, 63)));
    copy_short(out + start, baps.data() + start, end - start);
}

OSKAVI_AVX2 uint8_t row_largest_avx2(BinExponents exponents) { return row_largest(exponents); }
#else
MantissaTally tally_avx2(BinExponents, std::span<const int32_t, 50>, uint32_t, uint32_t, int32_t, int32_t) {
    return {};
}
void baps_avx2(uint8_t*, BinExponents, std::span<const int32_t, 50>, uint32_t, uint32_t, int32_t, int32_t) {}
uint8_t row_largest_avx2(BinExponents) { return 255; }
#endif

}  // namespace oskavi
