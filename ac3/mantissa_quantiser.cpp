#include "ac3/mantissa_quantiser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "ac3/bit_allocation.h"
#include "ac3/bit_allocation_tables.h"

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {
namespace {

// Largest double below 1.0: the top of every quantiser's input range.
constexpr double kBelowOne = 0x1.fffffffffffffp-1;

// 2^e for every exponent a decoder can hold (0..24); exact doubles, so
// value * 2^e is exactly ldexp(value, e).
constexpr std::array<double, 25> make_powers_of_two() {
    std::array<double, 25> powers{};
    double p = 1.0;
    for (double& entry : powers) {
        entry = p;
        p *= 2.0;
    }
    return powers;
}
constexpr std::array<double, 25> kPowerOfTwo = make_powers_of_two();

double scale_by_exponent(double value, int exponent) {
    if (exponent >= 0 && exponent < static_cast<int>(kPowerOfTwo.size())) return value * kPowerOfTwo[exponent];
    return std::ldexp(value, exponent);
}

// Everything the quantiser of one bap needs, so that any bap 1..15 runs the
// same straight-line code (the bap varies from bin to bin, and a branch on it
// would be mispredicted often). A symmetric quantiser of L levels (bap 1..5)
// uses offset (L - 1) / L, step 2 / L and top code L - 1; a two's-complement
// one of w bits (bap 6..15) uses half = 2^(w - 1), the code range
// -half..half - 1 and the w-bit mask. The other half of each row is inert.
struct Quantiser {
    double offset = 0.0;
    double step = 1.0;
    double inverse_step = 1.0;  // 1 / step, rounded
    double half = 1.0;
    int64_t top = 0;
    int64_t low = 0;
    int64_t high = 0;
    uint32_t mask = 0;
    bool symmetric = false;
};

constexpr std::array<Quantiser, 16> make_quantisers() {
    std::array<Quantiser, 16> q{};
    for (std::size_t bap = 1; bap < q.size(); ++bap) {
        if (bap <= 5) {
            const double levels = a52::quant_levels[bap];
            q[bap].offset = (levels - 1.0) / levels;
            q[bap].step = 2.0 / levels;
            q[bap].inverse_step = 1.0 / q[bap].step;
            q[bap].top = static_cast<int64_t>(a52::quant_levels[bap]) - 1;
            q[bap].symmetric = true;
        } else {
            const int width = a52::mant_width[bap];
            q[bap].half = kPowerOfTwo[static_cast<std::size_t>(width - 1)];
            q[bap].low = -(int64_t{1} << (width - 1));
            q[bap].high = (int64_t{1} << (width - 1)) - 1;
            q[bap].mask = (1u << width) - 1u;
        }
    }
    return q;
}
constexpr std::array<Quantiser, 16> kQuantisers = make_quantisers();

// Code of one mantissa of bap 1..15 (the bap is known to be valid). The
// values involved stay far inside the int64 range, so truncation by
// conversion plus a one-step correction gives std::floor and std::round
// (halves away from zero) exactly; y - trunc(y) is exact.
[[gnu::always_inline]] inline uint32_t quantise_valid(double value, int exponent, uint8_t bap) {
    double x = scale_by_exponent(value, exponent);
    if (std::isnan(x)) x = 0.0;
    x = std::min(std::max(x, -1.0), kBelowOne);
    const Quantiser& q = kQuantisers[bap];
    // Symmetric: code k stands for (2k - (L - 1)) / L.
    // The code is y = (x + offset) / step rounded half away from zero. With
    // |y| below 16 the product by the rounded reciprocal lies within 1e-14 of
    // the quotient, so it rounds to the same code unless it lies within 1e-9
    // of a half-integer; only then is the quotient itself taken.
    const double numerator = x + q.offset;
    double y = numerator * q.inverse_step;
    int64_t symmetric = static_cast<int64_t>(y);
    double fraction = y - static_cast<double>(symmetric);
    if (std::fabs(std::fabs(fraction) - 0.5) < 1e-9) {
        y = numerator / q.step;
        symmetric = static_cast<int64_t>(y);
        fraction = y - static_cast<double>(symmetric);
    }
    symmetric += static_cast<int64_t>(fraction >= 0.5) - static_cast<int64_t>(fraction <= -0.5);
    symmetric = std::min(std::max(symmetric, int64_t{0}), q.top);
    // Two's complement, truncating towards minus infinity.
    const double scaled = x * q.half;
    int64_t twos = static_cast<int64_t>(scaled);
    twos -= static_cast<int64_t>(static_cast<double>(twos) > scaled);
    twos = std::min(std::max(twos, q.low), q.high);
    const uint32_t pattern = static_cast<uint32_t>(twos) & q.mask;
    return q.symmetric ? static_cast<uint32_t>(symmetric) : pattern;
}

// Codes of a run of mantissas, bap 0 giving code 0; every bap is at most 15.
void quantise_run_plain(const double* values, const uint8_t* exponents, const uint8_t* baps, std::size_t count,
                        uint32_t* codes) {
    for (std::size_t i = 0; i < count; ++i)
        codes[i] = baps[i] == 0 ? 0 : quantise_valid(values[i], exponents[i], baps[i]);
}

#if OSKAVI_AVX2_KERNELS
// A symmetric quantiser's parameter by bap 0..7 (rows 0, 6 and 7 inert),
// eight doubles looked up in registers.
struct SymmetricColumn {
    std::array<double, 8> value{};
};

constexpr SymmetricColumn make_column(double Quantiser::*field) {
    SymmetricColumn c;
    for (std::size_t bap = 0; bap < 6; ++bap) c.value[bap] = kQuantisers[bap].*field;
    return c;
}
constexpr SymmetricColumn kOffsets = make_column(&Quantiser::offset);
constexpr SymmetricColumn kSteps = make_column(&Quantiser::step);
constexpr SymmetricColumn kInverseSteps = make_column(&Quantiser::inverse_step);

// Entry bap & 7 of a column for each of four lanes: a permute of 32-bit
// halves picks the double within each half of the column, a blend the half.
OSKAVI_AVX2_INLINE __m256d look_up(const SymmetricColumn& column, __m256i bap) {
    const __m256i within = _mm256_and_si256(bap, _mm256_set1_epi64x(3));
    // Halves 2i and 2i + 1 of entry i.
    const __m256i halves = _mm256_or_si256(_mm256_slli_epi64(within, 1),
                                           _mm256_slli_epi64(_mm256_add_epi64(_mm256_slli_epi64(within, 1),
                                                                              _mm256_set1_epi64x(1)), 32));
    const __m256d low =
        _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(_mm256_loadu_pd(column.value.data())), halves));
    const __m256d high =
        _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(_mm256_loadu_pd(column.value.data() + 4)), halves));
    const __m256i upper = _mm256_cmpgt_epi64(_mm256_and_si256(bap, _mm256_set1_epi64x(4)), _mm256_setzero_si256());
    return _mm256_blendv_pd(low, high, _mm256_castsi256_pd(upper));
}

// Four codes of quantise_valid at once, with the same arithmetic:
// value * 2^e with 2^e built from its bits (exactly ldexp for every 8-bit
// exponent); the symmetric code from the product by the rounded reciprocal,
// or from the quotient when a lane lies near a half; the two's complement
// pattern with 2^(w - 1) built from its bits. floor, trunc, min and max are
// exact, and the clamped codes are whole numbers well inside int32.

// Symmetric codes of four scaled values x: code k stands for (2k - (L - 1)) / L;
// top code L - 1 (0 for bap 0).
OSKAVI_AVX2_INLINE __m128i symmetric_codes(__m256d x, __m128i bap_bytes, __m128i symmetric) {
    const __m256i bap = _mm256_cvtepu8_epi64(bap_bytes);
    const __m256d numerator = _mm256_add_pd(x, look_up(kOffsets, bap));
    __m256d y = _mm256_mul_pd(numerator, look_up(kInverseSteps, bap));
    __m256d level = _mm256_round_pd(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    __m256d fraction = _mm256_sub_pd(y, level);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d off_half =
        _mm256_andnot_pd(sign, _mm256_sub_pd(_mm256_andnot_pd(sign, fraction), _mm256_set1_pd(0.5)));
    const __m256d near_half = _mm256_and_pd(_mm256_cmp_pd(off_half, _mm256_set1_pd(1e-9), _CMP_LT_OQ),
                                            _mm256_castsi256_pd(_mm256_cvtepi32_epi64(symmetric)));
    if (_mm256_movemask_pd(near_half) != 0) {
        y = _mm256_blendv_pd(y, _mm256_div_pd(numerator, look_up(kSteps, bap)), near_half);
        level = _mm256_round_pd(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        fraction = _mm256_sub_pd(y, level);
    }
    const __m256d one = _mm256_set1_pd(1.0);
    level = _mm256_add_pd(level, _mm256_and_pd(_mm256_cmp_pd(fraction, _mm256_set1_pd(0.5), _CMP_GE_OQ), one));
    level = _mm256_sub_pd(level, _mm256_and_pd(_mm256_cmp_pd(fraction, _mm256_set1_pd(-0.5), _CMP_LE_OQ), one));
    const __m128i levels = _mm_shuffle_epi8(_mm_setr_epi8(1, 3, 5, 7, 11, 15, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), bap_bytes);
    const __m256d top = _mm256_sub_pd(_mm256_cvtepi32_pd(_mm_cvtepu8_epi32(levels)), one);
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(level, _mm256_setzero_pd()), top));
}

// Two's complement patterns of w bits: floor(x * 2^(w - 1)) within
// -2^(w - 1)..2^(w - 1) - 1.
OSKAVI_AVX2_INLINE __m128i twos_complement_codes(__m256d x, __m128i bap_bytes) {
    const __m128i width_bytes =
        _mm_shuffle_epi8(_mm_setr_epi8(1, 1, 1, 1, 1, 1, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16), bap_bytes);
    const __m256i width = _mm256_cvtepu8_epi64(width_bytes);
    const __m256d half = _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_add_epi64(width, _mm256_set1_epi64x(1022)), 52));
    __m256d twos = _mm256_round_pd(_mm256_mul_pd(x, half), _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    twos = _mm256_min_pd(_mm256_max_pd(twos, _mm256_xor_pd(half, _mm256_set1_pd(-0.0))),
                         _mm256_sub_pd(half, _mm256_set1_pd(1.0)));
    const __m128i mask =
        _mm_sub_epi32(_mm_sllv_epi32(_mm_set1_epi32(1), _mm_cvtepu8_epi32(width_bytes)), _mm_set1_epi32(1));
    return _mm_and_si128(_mm256_cvttpd_epi32(twos), mask);
}

// Four bins whose baps are all of one kind (as neighbouring bins' mostly
// are) take that kind's codes alone.
OSKAVI_AVX2_INLINE void quantise_four_avx2(const double* values, const uint8_t* exponents, const uint8_t* baps,
                                           uint32_t* codes) {
    int32_t exponent_bytes;
    int32_t bap_bytes;
    std::memcpy(&exponent_bytes, exponents, 4);
    std::memcpy(&bap_bytes, baps, 4);
    const __m256i e = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(exponent_bytes));
    const __m256d power = _mm256_castsi256_pd(_mm256_slli_epi64(_mm256_add_epi64(e, _mm256_set1_epi64x(1023)), 52));
    __m256d x = _mm256_mul_pd(_mm256_loadu_pd(values), power);
    x = _mm256_andnot_pd(_mm256_cmp_pd(x, x, _CMP_UNORD_Q), x);  // NaN -> 0
    x = _mm256_min_pd(_mm256_max_pd(x, _mm256_set1_pd(-1.0)), _mm256_set1_pd(kBelowOne));

    const __m128i bap_vector = _mm_cvtsi32_si128(bap_bytes);
    const __m128i symmetric = _mm_cmplt_epi32(_mm_cvtepu8_epi32(bap_vector), _mm_set1_epi32(6));
    const int symmetric_lanes = _mm_movemask_ps(_mm_castsi128_ps(symmetric));
    __m128i code;
    if (symmetric_lanes == 0) {
        code = twos_complement_codes(x, bap_vector);
    } else if (symmetric_lanes == 0xF) {
        code = symmetric_codes(x, bap_vector, symmetric);
    } else {
        code = _mm_blendv_epi8(twos_complement_codes(x, bap_vector), symmetric_codes(x, bap_vector, symmetric),
                               symmetric);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes), code);
}

OSKAVI_AVX2 void quantise_run_avx2(const double* values, const uint8_t* exponents, const uint8_t* baps,
                                   std::size_t count, uint32_t* codes) {
    std::size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        // Four bins without mantissas (bap 0, code 0) are common in runs,
        // above the signal's bandwidth or in quiet bands.
        uint32_t four_baps;
        std::memcpy(&four_baps, baps + i, 4);
        if (four_baps == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), _mm_setzero_si128());
            continue;
        }
        quantise_four_avx2(values + i, exponents + i, baps + i, codes + i);
    }
    quantise_run_plain(values + i, exponents + i, baps + i, count - i, codes + i);
}
#else
void quantise_run_avx2(const double* values, const uint8_t* exponents, const uint8_t* baps, std::size_t count,
                       uint32_t* codes) {
    quantise_run_plain(values, exponents, baps, count, codes);
}
#endif

// Mantissas of one audio block: at most seven channels (five full-bandwidth,
// coupling, LFE) of at most 256 bins.
constexpr std::size_t kMaxBlockMantissas = 7 * 256;

// How bap 1, 2 and 4 codes are packed: `members` codes of `radix` levels
// per word of `width` bits; a missing member is sent as the zero level. Rule
// 0 stands for every other bap: a "group" of one member that is its own
// word (radix 0 keeps nothing of the word before).
struct GroupRule {
    uint32_t members;
    uint32_t radix;
    uint32_t zero_code;
};

constexpr std::array<GroupRule, 4> kGroupRules{{{1, 0, 0}, {3, 3, 1}, {3, 5, 2}, {2, 11, 5}}};

// The rule of each bap, and the width of the field a mantissa of that bap
// opens (its group word's for bap 1, 2 and 4; none for bap 0).
constexpr std::array<uint8_t, 16> kRuleOf{0, 1, 2, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr std::array<uint8_t, 16> make_opening_widths() {
    std::array<uint8_t, 16> widths{};
    for (std::size_t bap = 1; bap < widths.size(); ++bap) widths[bap] = a52::mant_width[bap];
    widths[1] = 5;
    widths[2] = 7;
    widths[4] = 7;
    return widths;
}
constexpr std::array<uint8_t, 16> kOpeningWidth = make_opening_widths();

// The fields of one channel's mantissas, opened at slots slot.. of a block:
// each slot's opening width, and the slots of bap 1, 2 and 4 (with their
// group rule) appended to the grouped list from index `grouped`; returns the
// new grouped count. Every bap is at most 15.
struct OpenedFields {
    uint8_t* widths;
    uint16_t* grouped_slots;
    uint8_t* grouped_rules;
};

std::size_t open_fields_plain(const uint8_t* baps, std::size_t count, std::size_t slot, std::size_t grouped,
                              const OpenedFields& out) {
    for (std::size_t i = 0; i < count; ++i, ++slot) {
        const uint8_t bap = baps[i];
        out.widths[slot] = kOpeningWidth[bap];
        out.grouped_slots[grouped] = static_cast<uint16_t>(slot);
        out.grouped_rules[grouped] = kRuleOf[bap];
        grouped += kRuleOf[bap] != 0 ? 1 : 0;
    }
    return grouped;
}

#if OSKAVI_AVX2_KERNELS
// 32 baps at a time: widths and rules by byte shuffles from 16-entry
// tables, then the grouped slots from the mask of non-zero rules.
OSKAVI_AVX2 std::size_t open_fields_avx2(const uint8_t* baps, std::size_t count, std::size_t slot,
                                         std::size_t grouped, const OpenedFields& out) {
    const auto table = [](const std::array<uint8_t, 16>& t) { return reinterpret_cast<const __m128i*>(t.data()); };
    const __m256i width_of = _mm256_broadcastsi128_si256(_mm_loadu_si128(table(kOpeningWidth)));
    const __m256i rule_of = _mm256_broadcastsi128_si256(_mm_loadu_si128(table(kRuleOf)));
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i bap = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(baps + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.widths + slot + i), _mm256_shuffle_epi8(width_of, bap));
        const __m256i rule = _mm256_shuffle_epi8(rule_of, bap);
        auto members = static_cast<uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpgt_epi8(rule, _mm256_setzero_si256())));
        for (; members != 0; members &= members - 1) {
            const auto lane = static_cast<std::size_t>(__builtin_ctz(members));
            out.grouped_slots[grouped] = static_cast<uint16_t>(slot + i + lane);
            out.grouped_rules[grouped] = kRuleOf[baps[i + lane]];
            ++grouped;
        }
    }
    return open_fields_plain(baps + i, count - i, slot + i, grouped, out);
}
#endif

std::size_t open_fields(const uint8_t* baps, std::size_t count, std::size_t slot, std::size_t grouped,
                        const OpenedFields& out) {
#if OSKAVI_AVX2_KERNELS
    if (processor_has_avx2()) return open_fields_avx2(baps, count, slot, grouped, out);
#endif
    return open_fields_plain(baps, count, slot, grouped, out);
}

void check_run(std::span<const double> values, std::span<const uint8_t> exponents, std::span<const uint8_t> baps,
               std::span<uint32_t> codes) {
    if (values.size() != baps.size() || exponents.size() != baps.size() || codes.size() != baps.size())
        throw std::runtime_error("mantissa channel vector size mismatch");
    // The largest bap, in a loop the compiler turns into vector maxima.
    uint8_t largest = 0;
    for (const uint8_t bap : baps) largest = std::max(largest, bap);
    if (largest > 15) throw std::runtime_error("invalid bap");
}

void check_lengths(std::span<const ChannelMantissas> channels) {
    for (const ChannelMantissas& c : channels) {
        if (c.coefficients.size() != c.baps.size() || c.exponents.size() != c.baps.size()) {
            throw std::runtime_error("mantissa channel vector size mismatch");
        }
    }
}

}  // namespace

uint32_t quantise_mantissa(double value, int exponent, uint8_t bap) {
    if (bap > 15) throw std::runtime_error("invalid bap");
    if (bap == 0) return 0;
    return quantise_valid(value, exponent, bap);
}

void quantise_mantissas(std::span<const double> values, std::span<const uint8_t> exponents,
                        std::span<const uint8_t> baps, std::span<uint32_t> codes) {
    check_run(values, exponents, baps, codes);
    if (processor_has_avx2()) {
        quantise_run_avx2(values.data(), exponents.data(), baps.data(), baps.size(), codes.data());
    } else {
        quantise_run_plain(values.data(), exponents.data(), baps.data(), baps.size(), codes.data());
    }
}

void quantise_mantissas_plain(std::span<const double> values, std::span<const uint8_t> exponents,
                              std::span<const uint8_t> baps, std::span<uint32_t> codes) {
    check_run(values, exponents, baps, codes);
    quantise_run_plain(values.data(), exponents.data(), baps.data(), baps.size(), codes.data());
}

void write_mantissas(BitWriter& writer, std::span<const ChannelMantissas> channels) {
    check_lengths(channels);
    // The block's fields in stream order, one slot per mantissa: first every
    // code with the width of the field it would open, then the bap 1, 2 and
    // 4 mantissas alone: a group's word goes to its first member's slot and
    // its other members' slots are emptied (width 0, value 0), as bap 0
    // slots already are. Members are the next mantissas of the same bap in
    // stream order, across channels; a group still open at the block's end
    // is completed with zero-level codes.
    std::array<uint32_t, kMaxBlockMantissas> values;
    std::array<uint8_t, kMaxBlockMantissas> widths;
    std::array<uint16_t, kMaxBlockMantissas> grouped_slots;
    std::array<uint8_t, kMaxBlockMantissas> grouped_rules;
    std::size_t grouped = 0;
    std::size_t slot = 0;
    for (const ChannelMantissas& c : channels) {
        if (c.baps.size() > kMaxBlockMantissas - slot) throw std::runtime_error("too many mantissas in one block");
        quantise_mantissas(c.coefficients, c.exponents, c.baps, std::span(values).subspan(slot, c.baps.size()));
        grouped = open_fields(c.baps.data(), c.baps.size(), slot, grouped,
                              OpenedFields{widths.data(), grouped_slots.data(), grouped_rules.data()});
        slot += c.baps.size();
    }
    struct OpenGroup {
        std::size_t first = 0;
        uint32_t word = 0;
        uint32_t members = 0;
    };
    std::array<OpenGroup, kGroupRules.size()> open{};  // by rule
    for (std::size_t k = 0; k < grouped; ++k) {
        const std::size_t at = grouped_slots[k];
        const GroupRule& rule = kGroupRules[grouped_rules[k]];
        OpenGroup& group = open[grouped_rules[k]];
        if (group.members == 0) {
            group.first = at;
            group.word = values[at];
        } else {
            group.word = group.word * rule.radix + values[at];
            values[at] = 0;
            widths[at] = 0;
            values[group.first] = group.word;
        }
        if (++group.members == rule.members) group.members = 0;
    }
    for (std::size_t r = 1; r < kGroupRules.size(); ++r) {
        OpenGroup& group = open[r];
        if (group.members == 0) continue;
        for (; group.members < kGroupRules[r].members; ++group.members)
            group.word = group.word * kGroupRules[r].radix + kGroupRules[r].zero_code;
        values[group.first] = group.word;
    }
    writer.write_fields(std::span(values).first(slot), std::span(widths).first(slot));
}

}  // namespace oskavi
