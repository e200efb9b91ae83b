#include "ac3/slew_limit.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "ac3/short_runs.h"
#include "platform/processor_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {
namespace {

// The slew limit as one forward and one backward pass of "lower to the
// neighbour's ceiling": r[i] <= r[i - 1] + 2 (i = 1..n-1), then
// r[i - 1] <= r[i] + 2 (i = n-1..1). With every value at most 24 the cap at
// 24 never binds and a further pair of passes changes nothing (the backward
// pass leaves each r[i - 1] either as it was or at r[i] + 2). The forward
// pass is then r'[i] = min over j <= i of r[j] + 2 (i - j): a prefix minimum
// of r[j] - 2j, plus 2i. The backward pass likewise is a suffix minimum of
// r'[j] + 2j, less 2i. Both scans run over 16-bit values padded with
// INT16_MAX to whole vectors of eight.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kCapacity = 256;
constexpr int16_t kNone = INT16_MAX;
using Scan = std::array<int16_t, kCapacity>;

std::size_t padded_size(std::size_t n) { return (n + kLanes - 1) / kLanes * kLanes; }

// v[i] = r[i] + slope * i, padding kNone.
void load_ramp(std::span<const uint8_t> r, int slope, Scan& v) {
    for (std::size_t i = 0; i < r.size(); ++i) v[i] = static_cast<int16_t>(r[i] + slope * static_cast<int>(i));
    std::fill(v.begin() + static_cast<std::ptrdiff_t>(r.size()),
              v.begin() + static_cast<std::ptrdiff_t>(padded_size(r.size())), kNone);
}

// v[i] += slope * i over the first n values, padding kNone again.
void add_ramp(std::size_t n, int slope, Scan& v) {
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<int16_t>(v[i] + slope * static_cast<int>(i));
    std::fill(v.begin() + static_cast<std::ptrdiff_t>(n), v.begin() + static_cast<std::ptrdiff_t>(padded_size(n)),
              kNone);
}

void store_ramp(const Scan& v, int slope, std::span<uint8_t> r) {
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<uint8_t>(v[i] + slope * static_cast<int>(i));
}

void prefix_minimum_plain(Scan& v, std::size_t n) {
    for (std::size_t i = 1; i < n; ++i) v[i] = std::min(v[i], v[i - 1]);
}

void suffix_minimum_plain(Scan& v, std::size_t n) {
    for (std::size_t i = n - 1; i > 0; --i) v[i - 1] = std::min(v[i - 1], v[i]);
}

// The scans one value at a time over the ramped values.
void limit_slew_scalar(std::span<uint8_t> r) {
    Scan v;
    load_ramp(r, -2, v);
    prefix_minimum_plain(v, r.size());
    add_ramp(r.size(), 4, v);
    suffix_minimum_plain(v, r.size());
    store_ramp(v, -2, r);
}

#if defined(__SSE2__)
// Minimum of each lane and the lanes before it within one vector (three
// shift-and-minimum steps; shifted-in lanes read kNone), then of the carry.
__m128i prefix_in_vector(__m128i x, __m128i carry) {
    const __m128i none1 = _mm_setr_epi16(kNone, 0, 0, 0, 0, 0, 0, 0);
    const __m128i none2 = _mm_setr_epi16(kNone, kNone, 0, 0, 0, 0, 0, 0);
    const __m128i none4 = _mm_setr_epi16(kNone, kNone, kNone, kNone, 0, 0, 0, 0);
    x = _mm_min_epi16(x, _mm_or_si128(_mm_slli_si128(x, 2), none1));
    x = _mm_min_epi16(x, _mm_or_si128(_mm_slli_si128(x, 4), none2));
    x = _mm_min_epi16(x, _mm_or_si128(_mm_slli_si128(x, 8), none4));
    return _mm_min_epi16(x, carry);
}

// The same towards lower lanes.
__m128i suffix_in_vector(__m128i x, __m128i carry) {
    const __m128i none1 = _mm_setr_epi16(0, 0, 0, 0, 0, 0, 0, kNone);
    const __m128i none2 = _mm_setr_epi16(0, 0, 0, 0, 0, 0, kNone, kNone);
    const __m128i none4 = _mm_setr_epi16(0, 0, 0, 0, kNone, kNone, kNone, kNone);
    x = _mm_min_epi16(x, _mm_or_si128(_mm_srli_si128(x, 2), none1));
    x = _mm_min_epi16(x, _mm_or_si128(_mm_srli_si128(x, 4), none2));
    x = _mm_min_epi16(x, _mm_or_si128(_mm_srli_si128(x, 8), none4));
    return _mm_min_epi16(x, carry);
}

__m128i broadcast_lane7(__m128i x) {
    const __m128i high = _mm_shufflehi_epi16(x, 0xFF);
    return _mm_unpackhi_epi64(high, high);
}

__m128i broadcast_lane0(__m128i x) {
    const __m128i low = _mm_shufflelo_epi16(x, 0x00);
    return _mm_unpacklo_epi64(low, low);
}

// Eight exponents from bytes[i..i + 8) as 16-bit lanes.
__m128i load_exponents(const uint8_t* bytes) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes)), _mm_setzero_si128());
}

// Both scans eight values at a time, the ramps folded into the loads and
// stores. Forward, padding lanes may hold anything (a prefix minimum never
// looks ahead); backward they are set to kNone, and the ramp is added with
// saturation so that they stay there.
void limit_slew_vectors(std::span<uint8_t> r) {
    const std::size_t n = r.size();
    const std::size_t padded = padded_size(n);
    alignas(16) std::array<uint8_t, kCapacity> bytes{};
    std::copy(r.begin(), r.end(), bytes.begin());
    alignas(16) Scan v;
    const __m128i step2 = _mm_setr_epi16(0, 2, 4, 6, 8, 10, 12, 14);
    __m128i carry = _mm_set1_epi16(kNone);
    for (std::size_t i = 0; i < padded; i += kLanes) {
        const __m128i ramp = _mm_add_epi16(step2, _mm_set1_epi16(static_cast<int16_t>(2 * i)));
        const __m128i x = prefix_in_vector(_mm_sub_epi16(load_exponents(&bytes[i]), ramp), carry);
        _mm_store_si128(reinterpret_cast<__m128i*>(&v[i]), x);
        carry = broadcast_lane7(x);
    }
    std::fill(v.begin() + static_cast<std::ptrdiff_t>(n), v.begin() + static_cast<std::ptrdiff_t>(padded), kNone);
    const __m128i step4 = _mm_setr_epi16(0, 4, 8, 12, 16, 20, 24, 28);
    carry = _mm_set1_epi16(kNone);
    for (std::size_t i = padded; i > 0; i -= kLanes) {
        const std::size_t first = i - kLanes;
        const __m128i up = _mm_add_epi16(step4, _mm_set1_epi16(static_cast<int16_t>(4 * first)));
        const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(&v[first]));
        const __m128i y = suffix_in_vector(_mm_adds_epi16(x, up), carry);
        carry = broadcast_lane0(y);
        const __m128i down = _mm_add_epi16(step2, _mm_set1_epi16(static_cast<int16_t>(2 * first)));
        const __m128i out = _mm_sub_epi16(y, down);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&bytes[first]), _mm_packus_epi16(out, out));
    }
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), r.begin());
}
#endif

#if OSKAVI_AVX2_KERNELS
// Both scans again in 8-bit lanes, 32 at a time, each 16-lane half of a
// vector scanned on its own (shifts within a half cost one instruction, and
// none waits on a shift across halves). Forward, a half's lanes become
// z[j] = r[j] - 2j (signed bytes: every value is at most 24), whose prefix
// minimum plus 2j is min over k <= j of r[k] + 2(j - k); four shift-and-
// minimum steps of 1, 2, 4 and 8 lanes cover the half, lanes shifted in
// reading 127. The backward scan mirrors it with r[j] + 2j and a suffix
// minimum, in unsigned bytes that saturate at 255 (its padding lanes beyond
// n are 255 so that they never win). Then each half takes the value carried
// in from the neighbouring half: its last (first) lane plus 2 per lane of
// distance. That lane's own scan is already final, for nothing 13 or more
// lanes off can win (it would be at least 26 above a value of at most 24),
// so no half waits on the one before it and the halves' scans overlap.

// Bytes 0..15 given by `at`, repeated in both halves.
template <typename At>
constexpr std::array<uint8_t, 32> per_half(At at) {
    std::array<uint8_t, 32> bytes{};
    for (int j = 0; j < 16; ++j) bytes[static_cast<std::size_t>(j)] = bytes[static_cast<std::size_t>(j + 16)] = at(j);
    return bytes;
}

constexpr std::array<uint8_t, 32> kTwiceLane = per_half([](int j) { return static_cast<uint8_t>(2 * j); });
// What the carry gains reaching lane j from the lane before the half (2, 4,
// ..., 32), and from the lane after it (32, 30, ..., 2).
constexpr std::array<uint8_t, 32> kRampUp = per_half([](int j) { return static_cast<uint8_t>(2 * (j + 1)); });
constexpr std::array<uint8_t, 32> kRampDown = per_half([](int j) { return static_cast<uint8_t>(2 * (16 - j)); });

OSKAVI_AVX2_INLINE __m256i bytes_of(const std::array<uint8_t, 32>& b) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b.data()));
}

// Lane j of each half becomes min(lane j, lane j - S), lane j - S < 0 reading `filler`.
template <int S>
OSKAVI_AVX2_INLINE __m256i min_from_lower_signed(__m256i z, __m256i filler) {
    return _mm256_min_epi8(z, _mm256_alignr_epi8(z, filler, 16 - S));
}

// Lane j of each half becomes min(lane j, lane j + S), lane j + S > 15 reading `filler`.
template <int S>
OSKAVI_AVX2_INLINE __m256i min_from_higher(__m256i w, __m256i filler) {
    return _mm256_min_epu8(w, _mm256_alignr_epi8(filler, w, S));
}

// The forward scan of each half on its own.
OSKAVI_AVX2_INLINE __m256i forward_halves(__m256i x) {
    const __m256i ramp = bytes_of(kTwiceLane);
    const __m256i filler = _mm256_set1_epi8(127);
    __m256i z = _mm256_sub_epi8(x, ramp);
    z = min_from_lower_signed<1>(z, filler);
    z = min_from_lower_signed<2>(z, filler);
    z = min_from_lower_signed<4>(z, filler);
    z = min_from_lower_signed<8>(z, filler);
    return _mm256_add_epi8(z, ramp);
}

// The backward scan of each half on its own.
OSKAVI_AVX2_INLINE __m256i backward_halves(__m256i x) {
    const __m256i ramp = bytes_of(kTwiceLane);
    const __m256i filler = _mm256_set1_epi8(static_cast<char>(255));
    __m256i w = _mm256_adds_epu8(x, ramp);
    w = min_from_higher<1>(w, filler);
    w = min_from_higher<2>(w, filler);
    w = min_from_higher<4>(w, filler);
    w = min_from_higher<8>(w, filler);
    return _mm256_sub_epi8(w, ramp);
}

// The scans over r[0..n) in place; r has room for 32 bytes past n, whose
// bytes are overwritten.
OSKAVI_AVX2 void limit_slew_bytes_avx2(uint8_t* r, std::size_t n) {
    const std::size_t padded = (n + 31) / 32 * 32;
    const __m256i none = _mm256_set1_epi8(static_cast<char>(255));
    // Forward: a half's carry is the last lane of the half before it (the
    // previous vector's upper half, or this vector's lower half). The bytes
    // past n may hold anything here: a prefix minimum never looks ahead.
    __m256i before = none;  // the previous vector's halves scanned
    for (std::size_t i = 0; i < padded; i += 32) {
        const __m256i x = forward_halves(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + i)));
        const __m256i last = _mm256_shuffle_epi8(_mm256_permute2x128_si256(before, x, 0x21), _mm256_set1_epi8(15));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i),
                            _mm256_min_epu8(x, _mm256_adds_epu8(last, bytes_of(kRampUp))));
        before = x;
    }
    // The forward scan filled the padding with finite values: back to 255.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + n), none);
    // Backward: a half's carry is the first lane of the half after it.
    __m256i after = none;  // the next vector's halves scanned
    for (std::size_t i = padded; i > 0; i -= 32) {
        const __m256i x = backward_halves(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + i - 32)));
        const __m256i first = _mm256_shuffle_epi8(_mm256_permute2x128_si256(x, after, 0x21), _mm256_setzero_si256());
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(r + i - 32),
                            _mm256_min_epu8(x, _mm256_adds_epu8(first, bytes_of(kRampDown))));
        after = x;
    }
}
#endif

}  // namespace

void limit_slew_plain(std::span<uint8_t> r) {
    if (r.size() >= 2) limit_slew_scalar(r);
}

#if defined(__SSE2__)
void limit_slew_sse2(std::span<uint8_t> r) {
    if (r.size() >= 2) limit_slew_vectors(r);
}
bool limit_slew_sse2_available() { return true; }
#else
void limit_slew_sse2(std::span<uint8_t> r) { limit_slew_plain(r); }
bool limit_slew_sse2_available() { return false; }
#endif

void limit_slew_avx2(std::span<uint8_t> r) {
#if OSKAVI_AVX2_KERNELS
    if (processor_has_avx2()) {
        const std::size_t n = std::min(r.size(), std::size_t{256});  // at most 256 by contract
        std::array<uint8_t, kSlewRoom> buffer;
        copy_short(buffer.data(), r.data(), n);
        limit_slew_in_place(buffer, n);
        copy_short(r.data(), buffer.data(), n);
        return;
    }
#endif
    limit_slew_sse2(r);
}

void limit_slew(std::span<uint8_t> r) { limit_slew_avx2(r); }

void limit_slew_in_place(std::span<uint8_t, kSlewRoom> buffer, std::size_t n) {
    if (n < 2) return;
#if OSKAVI_AVX2_KERNELS
    if (processor_has_avx2()) {
        limit_slew_bytes_avx2(buffer.data(), std::min(n, std::size_t{256}));
        return;
    }
#endif
    limit_slew_sse2(buffer.first(n));
}

}  // namespace oskavi
