#include "ac3/exponents.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "ac3/short_runs.h"
#include "ac3/slew_limit.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace oskavi {

namespace {

// The quietest exponent A/52 can code.
constexpr uint8_t kMaxExponent = 24;
// The absolute (DC) exponent is sent in four bits.
constexpr uint8_t kMaxAbsoluteExponent = 15;

// Bins per exponent step for D15, D25, D45 (strategy 1..3).
constexpr std::array<uint32_t, 4> kGroupSize{0, 1, 2, 4};

uint32_t group_count_for(uint8_t strategy, uint32_t coded_bins) {
    switch (strategy) {
        case kExpD15: return (coded_bins - 1) / 3;
        case kExpD25: return (coded_bins + 2) / 6;
        default: return (coded_bins + 8) / 12;
    }
}

// -E of |X| = m * 2^E with 0.5 <= m < 1, read straight from the IEEE-754
// fields and clamped to 0..24: for a normal double E = biased exponent - 1022.
// Everything at or below the smallest normal double (zero and subnormals,
// biased exponent 0 or 1) gives 1021 or more and so clamps to 24, as the
// definition asks; infinities and NaN (biased exponent 2047) clamp to 0.
// (Builds with SSE2 take sixteen at a time instead, below.)
[[maybe_unused]] uint8_t exponent_of(double coefficient) {
    const auto biased = static_cast<int32_t>((std::bit_cast<uint64_t>(coefficient) >> 52) & 0x7FF);
    return static_cast<uint8_t>(std::clamp(1022 - biased, int32_t{0}, int32_t{kMaxExponent}));
}

#if defined(__SSE2__)
// exponent_of for sixteen coefficients: the high 32 bits of each double hold
// its biased exponent in bits 20..30; 1022 - biased lies in [-1025, 1022],
// so the signed 16-bit pack keeps it whole before the clamp to 0..24.
__m128i sixteen_exponents(const double* c) {
    const auto high_words = [c](int first) {
        const __m128 a = _mm_castpd_ps(_mm_loadu_pd(c + first));
        const __m128 b = _mm_castpd_ps(_mm_loadu_pd(c + first + 2));
        const __m128i high = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i biased = _mm_and_si128(_mm_srli_epi32(high, 20), _mm_set1_epi32(0x7FF));
        return _mm_sub_epi32(_mm_set1_epi32(1022), biased);
    };
    const __m128i low = _mm_packs_epi32(high_words(0), high_words(4));
    const __m128i high = _mm_packs_epi32(high_words(8), high_words(12));
    const __m128i zero = _mm_setzero_si128();
    const __m128i cap = _mm_set1_epi16(kMaxExponent);
    return _mm_packus_epi16(_mm_min_epi16(_mm_max_epi16(low, zero), cap),
                            _mm_min_epi16(_mm_max_epi16(high, zero), cap));
}
#endif

// The DC exponent plus one exponent per differential step; at most
// 3 * 84 steps (D15 over 253 bins), with room for the slew limit to work in
// place.
using StepExponents = std::array<uint8_t, kSlewRoom>;
static_assert(3 * kMaxExponentGroups + 1 <= 256);

#if defined(__SSE2__)
// Sixteen steps at a time: each 16-bit lane's low byte becomes the smaller
// of its two bytes (and, for four-bin steps, each 32-bit lane's low byte the
// smallest of its four), then the low bytes are packed in order.
__m128i pair_minima(__m128i v) { return _mm_and_si128(_mm_min_epu8(v, _mm_srli_epi16(v, 8)), _mm_set1_epi16(0xFF)); }

__m128i quad_minima(__m128i v) {
    const __m128i pairs = pair_minima(v);
    return _mm_min_epi16(pairs, _mm_srli_epi32(pairs, 16));  // both halves below 256
}

__m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

// Steps i..i + 15 of bins (GroupSize bins each) into r[i + 1..].
template <uint32_t GroupSize>
void reduce_sixteen(const uint8_t* bins, uint32_t i, StepExponents& r) {
    const __m128i cap = _mm_set1_epi8(static_cast<char>(kMaxExponent));
    const uint8_t* at = bins + GroupSize * i;
    __m128i steps;
    if constexpr (GroupSize == 2) {
        steps = _mm_packus_epi16(pair_minima(load16(at)), pair_minima(load16(at + 16)));
    } else {
        const __m128i low = _mm_packs_epi32(quad_minima(load16(at)), quad_minima(load16(at + 16)));
        const __m128i high = _mm_packs_epi32(quad_minima(load16(at + 32)), quad_minima(load16(at + 48)));
        steps = _mm_packus_epi16(low, high);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r.data() + 1 + i), _mm_min_epu8(steps, cap));
}

// Steps [0, count) into r[1..], sixteen at a time, a last part of fewer as
// the sixteen ending at count (steps done twice come out the same); returns
// how many were done (all, or none when there are fewer than sixteen).
template <uint32_t GroupSize>
uint32_t reduce_sixteen_at_a_time(const uint8_t* bins, uint32_t count, StepExponents& r) {
    if (count < 16) return 0;
    for (uint32_t i = 0; i + 16 <= count; i += 16) reduce_sixteen<GroupSize>(bins, i, r);
    if (count % 16 != 0) reduce_sixteen<GroupSize>(bins, count - 16, r);
    return count;
}
#else
template <uint32_t GroupSize>
uint32_t reduce_sixteen_at_a_time(const uint8_t*, uint32_t, StepExponents&) {
    return 0;
}
#endif

// r[0..steps]: the DC exponent, then one exponent per step of `group_size`
// bins, the smallest of the step's bins (the loudest wins, so no mantissa
// overflows). A step lying wholly at or beyond the coded bins repeats its
// predecessor.
void reduce_to_steps(std::span<const uint8_t> e, uint32_t group_size, uint32_t steps, uint32_t coded_bins,
                     StepExponents& r) {
    r[0] = std::min(e[0], kMaxAbsoluteExponent);
    // Steps whose bins all lie below coded_bins: min(step * g + g + 1, n) is
    // then the step's own end.
    const uint32_t whole = std::min(steps, (coded_bins - 1) / group_size);
    const uint8_t* bins = e.data() + 1;
    if (group_size == 1) {
        for (uint32_t i = 0; i < whole; ++i) r[i + 1] = std::min(bins[i], kMaxExponent);
    } else if (group_size == 2) {
        for (uint32_t i = reduce_sixteen_at_a_time<2>(bins, whole, r); i < whole; ++i)
            r[i + 1] = std::min({bins[2 * i], bins[2 * i + 1], kMaxExponent});
    } else {
        for (uint32_t i = reduce_sixteen_at_a_time<4>(bins, whole, r); i < whole; ++i)
            r[i + 1] = std::min({bins[4 * i], bins[4 * i + 1], bins[4 * i + 2], bins[4 * i + 3], kMaxExponent});
    }
    for (uint32_t i = whole; i < steps; ++i) {
        const uint32_t first = i * group_size + 1;
        if (first >= coded_bins) {
            r[i + 1] = r[i];
            continue;
        }
        const uint32_t end = std::min(first + group_size, coded_bins);
        uint8_t smallest = kMaxExponent;
        for (uint32_t k = first; k < end; ++k) smallest = std::min(smallest, e[k]);
        r[i + 1] = smallest;
    }
}

// out[k] = r[k / GroupSize + 1] for k < bins: whole steps a step at a time
// (sixteen steps at once where the build has SSE2: each byte repeated), then
// the part of the last step that fits.
template <uint32_t GroupSize>
void expand_by(const StepExponents& r, uint32_t bins, uint8_t* out) {
    const uint32_t whole = bins / GroupSize;
    uint32_t i = 0;
#if defined(__SSE2__)
    const auto expand_sixteen = [&r, out](uint32_t first) {
        const __m128i steps = load16(r.data() + 1 + first);
        const __m128i low = _mm_unpacklo_epi8(steps, steps);
        const __m128i high = _mm_unpackhi_epi8(steps, steps);
        auto* at = reinterpret_cast<__m128i*>(out + GroupSize * first);
        if constexpr (GroupSize == 2) {
            _mm_storeu_si128(at, low);
            _mm_storeu_si128(at + 1, high);
        } else {
            _mm_storeu_si128(at, _mm_unpacklo_epi16(low, low));
            _mm_storeu_si128(at + 1, _mm_unpackhi_epi16(low, low));
            _mm_storeu_si128(at + 2, _mm_unpacklo_epi16(high, high));
            _mm_storeu_si128(at + 3, _mm_unpackhi_epi16(high, high));
        }
    };
    // Sixteen steps at a time, a last part of fewer as the sixteen ending
    // at `whole` (bins written twice get the same values).
    if (whole >= 16) {
        for (; i + 16 <= whole; i += 16) expand_sixteen(i);
        if (i < whole) expand_sixteen(whole - 16);
        i = whole;
    }
#endif
    for (; i < whole; ++i) {
        for (uint32_t k = 0; k < GroupSize; ++k) out[GroupSize * i + k] = r[i + 1];
    }
    for (uint32_t k = GroupSize * whole; k < bins; ++k) out[k] = r[whole + 1];
}

// exponents[0] = r[0], then r[i + 1] for the group_size bins of step i, up
// to bin `covered` (exclusive).
void expand_steps(const StepExponents& r, uint32_t group_size, uint32_t covered, uint8_t* exponents) {
    exponents[0] = r[0];
    const uint32_t bins = covered - 1;  // bins 1..covered-1
    uint8_t* out = exponents + 1;
    if (group_size == 1) {
        copy_short(out, r.data() + 1, bins);
    } else if (group_size == 2) {
        expand_by<2>(r, bins, out);
    } else {
        expand_by<4>(r, bins, out);
    }
}

}  // namespace


RawExponents raw_exponents(std::span<const double, kBinsPerBlock> coefficients) {
    RawExponents exponents;
#if defined(__SSE2__)
    static_assert(kBinsPerBlock % 16 == 0);
    for (std::size_t k = 0; k < exponents.size(); k += 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(exponents.data() + k), sixteen_exponents(&coefficients[k]));
    }
#else
    for (std::size_t k = 0; k < exponents.size(); ++k) exponents[k] = exponent_of(coefficients[k]);
#endif
    return exponents;
}

namespace {

// The step exponents of a set, slew-limited: r[0] the absolute exponent,
// r[1..steps] one per step; and the decoded exponents into out[0..256).
uint32_t shape_steps(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins, StepExponents& r,
                     uint8_t* out) {
    const uint32_t group_size = kGroupSize[strategy];
    const uint32_t groups = group_count_for(strategy, coded_bins);
    const uint32_t steps = 3 * groups;
    reduce_to_steps(exponents, group_size, steps, coded_bins, r);
    limit_slew_in_place(r, steps + 1);
    // Bins reached by a step take its exponent; the rest (beyond the last
    // step, or beyond the coded bins) stay 24.
    const uint32_t covered = std::min(steps * group_size + 1, coded_bins);
    expand_steps(r, group_size, covered, out);
    fill_short(out + covered, kBinsPerBlock - covered, kMaxExponent);
    return groups;
}

}  // namespace

uint32_t shape_exponents(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins,
                         std::span<uint8_t, kBinsPerBlock> out) {
    StepExponents r;
    return shape_steps(exponents, strategy, coded_bins, r, out.data());
}

ExponentSet prepare_exponent_set(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins) {
    if (strategy == kExpReuse) throw std::runtime_error("cannot prepare a reuse exponent set");
    // A/52 codes at most 253 bins; the set's storage is sized for that.
    if (coded_bins == 0 || coded_bins > exponents.size() || coded_bins > kMaxCodedBins) {
        throw std::runtime_error("invalid exponent coefficient count");
    }
    if (strategy > kExpD45) throw std::runtime_error("reuse is not a transmitted exponent set");

    ExponentSet set;
    set.strategy = strategy;
    set.bin_count = static_cast<uint16_t>(coded_bins);
    StepExponents r;
    const uint32_t groups = shape_steps(exponents, strategy, coded_bins, r, set.exponents.data());
    const uint32_t steps = 3 * groups;
    set.absolute_exponent = r[0];
    set.group_count = static_cast<uint8_t>(groups);
    // Each difference, offset by 2, must be a base-5 digit (in 8 bits a
    // negative one wraps above 4). The digits first, in one pass; then three
    // per group code.
    std::array<uint8_t, 3 * kMaxExponentGroups> digits;
    uint8_t largest = 0;
    for (uint32_t i = 0; i < steps; ++i) {
        digits[i] = static_cast<uint8_t>(r[i + 1] - r[i] + 2);
        largest = std::max(largest, digits[i]);
    }
    if (largest > 4) throw std::runtime_error("internal exponent slew error");
    for (uint32_t j = 0; j < groups; ++j) {
        set.group_codes[j] = static_cast<uint8_t>(25 * digits[3 * j] + 5 * digits[3 * j + 1] + digits[3 * j + 2]);
    }
    return set;
}

}  // namespace oskavi
