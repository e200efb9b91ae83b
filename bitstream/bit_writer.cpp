#include "bitstream/bit_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

BitWriter::BitWriter(uint32_t reserve_bytes, bool count_only_mode) : count_only(count_only_mode) {
    if (reserve_bytes >= 0x80000000u) throw std::length_error("vector too long");
    if (!count_only && reserve_bytes != 0) bytes.reserve(reserve_bytes);
}

void BitWriter::write_bits(uint32_t value, uint32_t width) {
    if (width > 32) throw std::runtime_error("BitWriter width > 32");
    if (width > 0 && width < 32 && value >= (1u << width))
        throw std::runtime_error("BitWriter value does not fit field");
    if (count_only) {
        bit_count += width;
        return;
    }
    if (width == 0) return;
    // The field lands in at most five bytes starting with the partly filled
    // last one (whose free low bits are 0), or a new one when the count is
    // on a byte boundary. Line it up in a 40-bit window whose top byte is
    // that byte; used + width <= 39, so the shift is >= 1. The bytes always
    // number ceil(bit_count / 8), so a partly filled byte is the last one.
    const uint32_t used = bit_count % 8;
    const uint32_t end = bit_count + width;
    const uint64_t window = static_cast<uint64_t>(value) << (40 - used - width);
    if (used != 0) {
        bytes.back() = static_cast<uint8_t>(bytes.back() | (window >> 32));
    } else {
        bytes.push_back(static_cast<uint8_t>(window >> 32));
    }
    const uint32_t touched = (used + width + 7) / 8;
    for (uint32_t k = 1; k < touched; ++k) bytes.push_back(static_cast<uint8_t>(window >> (32 - 8 * k)));
    bit_count = end;
}

void BitWriter::write_zeros(uint32_t n) {
    if (!count_only) {
        // The free low bits of the last byte are already 0; new bytes start as 0.
        bytes.resize((static_cast<std::size_t>(bit_count) + n + 7) / 8);
    }
    bit_count += n;
}

namespace {

constexpr uint32_t kWidestField = 16;

void store_big_endian(uint8_t* at, uint64_t value) {
    uint8_t bytes[8];
    for (int k = 0; k < 8; ++k) bytes[k] = static_cast<uint8_t>(value >> (56 - 8 * k));
    std::memcpy(at, bytes, 8);
}

// Packs `count` fields (value_of(i), width_of(i)), every value known to fit
// its width, after `used` bits already in out[0] (its top bits), into a
// 64-bit register filled from the top: `room` is the count of its bits still
// free, so a field goes in by one subtraction and one shift. PerStore fields
// go in between stores (7 + PerStore * widest bits must fit 64), and each
// store writes all eight bytes of the register: the whole bytes done move
// the output on, the rest is written again by the next store, so there are
// no data-dependent branches. out must have room for 8 bytes past the last
// byte the fields touch. Returns the bit count from out[0].
template <std::size_t PerStore, typename ValueOf, typename WidthOf>
uint64_t pack_fields(uint8_t* out, uint32_t used, std::size_t count, ValueOf value_of, WidthOf width_of) {
    uint64_t acc = uint64_t{out[0]} << 56;
    uint32_t room = 64 - used;
    uint8_t* const first = out;
    // A width-0 field has value 0: whatever the shift, it adds nothing.
    const auto add = [&](std::size_t i) {
        room -= width_of(i);
        acc |= uint64_t{value_of(i)} << (room & 63);
    };
    const auto store = [&] {
        store_big_endian(out, acc);
        const uint32_t done = (64 - room) >> 3;  // at most 7 whole bytes
        out += done;
        acc <<= 8 * done;
        room += 8 * done;
    };
    std::size_t i = 0;
    for (; i + PerStore <= count; i += PerStore) {
        for (std::size_t k = 0; k < PerStore; ++k) add(i + k);
        store();
    }
    for (; i < count; ++i) {
        add(i);
        store();
    }
    store_big_endian(out, acc);
    return 8 * static_cast<uint64_t>(out - first) + (64 - room) - used;
}

// Fields whose widths are known to be at most `widest` (<= kWidestField)
// and whose values are known to fit them.
template <typename ValueOf, typename WidthOf>
void append_fields(BitWriter& w, std::size_t count, uint64_t total_bits, uint32_t widest, ValueOf value_of,
                   WidthOf width_of) {
    if (w.count_only) {
        w.bit_count += static_cast<uint32_t>(total_bits);
        return;
    }
    const uint32_t used = w.bit_count % 8;
    const std::size_t start = w.bit_count / 8;  // the byte holding the next bit
    w.bytes.resize(start + (used + total_bits + 7) / 8 + 8);
    uint8_t* out = w.bytes.data() + start;
    // Four fields of at most 14 bits fit with the 7 left over (7 + 56 <= 64), three of 16.
    const uint64_t bits_written = widest <= 14 ? pack_fields<4>(out, used, count, value_of, width_of)
                                               : pack_fields<3>(out, used, count, value_of, width_of);
    w.bit_count += static_cast<uint32_t>(bits_written);
    w.bytes.resize((static_cast<std::size_t>(w.bit_count) + 7) / 8);
}

// What a run of fields needs before it is packed: the bits of the values
// above their widths (0 when every value fits), the sum of the widths and
// the widest.
struct FieldSurvey {
    uint32_t above = 0;
    uint64_t total = 0;
    uint8_t widest = 0;
};

FieldSurvey survey_plain(std::span<const uint32_t> values, std::span<const uint8_t> widths) {
    FieldSurvey s;
    for (std::size_t i = 0; i < values.size(); ++i) {
        s.above |= widths[i] >= 32 ? 0 : values[i] >> widths[i];
        s.total += widths[i];
        s.widest = std::max(s.widest, widths[i]);
    }
    return s;
}

#if OSKAVI_AVX2_KERNELS
// The same, eight fields at a time (a per-lane shift by 32 or more gives 0;
// the widths summed in 64-bit lanes, their maximum byte by byte).
OSKAVI_AVX2 FieldSurvey survey_avx2(std::span<const uint32_t> values, std::span<const uint8_t> widths) {
    __m256i above = _mm256_setzero_si256();
    __m128i sums = _mm_setzero_si128();
    __m128i widest = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 8 <= values.size(); i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values.data() + i));
        const __m128i w8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(widths.data() + i));
        above = _mm256_or_si256(above, _mm256_srlv_epi32(v, _mm256_cvtepu8_epi32(w8)));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(w8, _mm_setzero_si128()));
        widest = _mm_max_epu8(widest, w8);
    }
    const __m128i folded = _mm_or_si128(_mm256_castsi256_si128(above), _mm256_extracti128_si256(above, 1));
    alignas(16) std::array<uint32_t, 4> lanes;
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes.data()), folded);
    alignas(16) std::array<uint8_t, 16> widest_bytes;
    _mm_store_si128(reinterpret_cast<__m128i*>(widest_bytes.data()), widest);
    FieldSurvey s = survey_plain(values.subspan(i), widths.subspan(i));
    s.above |= lanes[0] | lanes[1] | lanes[2] | lanes[3];
    s.total += static_cast<uint64_t>(_mm_cvtsi128_si64(sums));
    for (std::size_t k = 0; k < 8; ++k) s.widest = std::max(s.widest, widest_bytes[k]);
    return s;
}
#endif

FieldSurvey survey(std::span<const uint32_t> values, std::span<const uint8_t> widths) {
#if OSKAVI_AVX2_KERNELS
    if (processor_has_avx2()) return survey_avx2(values, widths);
#endif
    return survey_plain(values, widths);
}

}  // namespace

void BitWriter::write_fields(std::span<const uint32_t> values, std::span<const uint8_t> widths) {
    if (values.size() != widths.size()) throw std::runtime_error("BitWriter field count mismatch");
    const FieldSurvey s = survey(values, widths);
    if (s.widest > kWidestField || s.above != 0) throw std::runtime_error("BitWriter value does not fit field");
    append_fields(*this, values.size(), s.total, s.widest, [values](std::size_t i) { return values[i]; },
                  [widths](std::size_t i) { return uint32_t{widths[i]}; });
}

void BitWriter::write_fields(std::span<const uint8_t> values, uint32_t width) {
    if (width > kWidestField) throw std::runtime_error("BitWriter value does not fit field");
    uint8_t largest = 0;
    for (const uint8_t value : values) largest = std::max(largest, value);
    if ((uint32_t{largest} >> width) != 0) throw std::runtime_error("BitWriter value does not fit field");
    append_fields(*this, values.size(), uint64_t{width} * values.size(), width,
                  [values](std::size_t i) { return uint32_t{values[i]}; }, [width](std::size_t) { return width; });
}

}  // namespace oskavi
