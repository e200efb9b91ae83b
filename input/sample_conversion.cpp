#include "input/sample_conversion.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

namespace oskavi {
namespace {

// Each integer code times 2^-(bits - 1). The float of the code is exact for
// 16 and 24 bits, and for 32 bits rounds as the float of the scaled double
// would (scaling by a power of two neither rounds nor moves a rounding), so
// converting first and scaling in float gives the same values as scaling
// in double. The codes are read from little-endian bytes, a whole word at
// a time where the machine is little-endian too.
constexpr float kScale16 = 1.0f / 32768.0f;        // 2^-15
constexpr float kScale24 = 1.0f / 8388608.0f;      // 2^-23
constexpr float kScale32 = 1.0f / 2147483648.0f;   // 2^-31

template <typename Word>
Word little_endian(const uint8_t* in) {
    Word value;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, in, sizeof value);
    } else {
        std::make_unsigned_t<Word> raw = 0;
        for (std::size_t b = 0; b < sizeof value; ++b) raw |= static_cast<std::make_unsigned_t<Word>>(in[b]) << (8 * b);
        value = static_cast<Word>(raw);
    }
    return value;
}

void convert_pcm16(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(little_endian<int16_t>(in + 2 * i)) * kScale16;
}

void convert_pcm24(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i, in += 3) {
        const uint32_t raw = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                             (static_cast<uint32_t>(in[2]) << 16);
        // Sign-extend from bit 23.
        const int32_t value = static_cast<int32_t>(raw ^ 0x800000u) - 0x800000;
        out[i] = static_cast<float>(value) * kScale24;
    }
}

void convert_pcm32(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(little_endian<int32_t>(in + 4 * i)) * kScale32;
}

uint64_t convert_float32(const uint8_t* in, float* out, size_t count) {
    uint64_t not_a_number = 0;
    for (size_t i = 0; i < count; ++i, in += 4) {
        const uint32_t raw = static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
                             (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
        float value;
        std::memcpy(&value, &raw, sizeof value);
        if (std::isnan(value)) {
            // NaN has no level: it is read as silence and counted, so that
            // the caller can say how many samples were replaced.
            value = 0.0f;
            ++not_a_number;
        } else if (value > 1.0f) {
            value = 1.0f;
        } else if (value < -1.0f) {
            value = -1.0f;
        }
        out[i] = value;
    }
    return not_a_number;
}

}  // namespace

SampleEncoding sample_encoding(uint16_t format_code, uint16_t bits_per_sample) {
    if (format_code == 3) {
        return SampleEncoding::Float32;
    }
    switch (bits_per_sample) {
        case 16: return SampleEncoding::Pcm16;
        case 24: return SampleEncoding::Pcm24;
        default: return SampleEncoding::Pcm32;
    }
}

uint32_t bytes_per_sample(SampleEncoding encoding) {
    switch (encoding) {
        case SampleEncoding::Pcm16: return 2;
        case SampleEncoding::Pcm24: return 3;
        default: return 4;
    }
}

uint64_t convert_samples(SampleEncoding encoding, std::span<const uint8_t> bytes, std::span<float> out) {
    const size_t count = bytes.size() / bytes_per_sample(encoding);
    switch (encoding) {
        case SampleEncoding::Pcm16: convert_pcm16(bytes.data(), out.data(), count); break;
        case SampleEncoding::Pcm24: convert_pcm24(bytes.data(), out.data(), count); break;
        case SampleEncoding::Pcm32: convert_pcm32(bytes.data(), out.data(), count); break;
        case SampleEncoding::Float32: return convert_float32(bytes.data(), out.data(), count);
    }
    return 0;
}

}  // namespace oskavi
