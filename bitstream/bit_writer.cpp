#include "bitstream/bit_writer.h"

#include <stdexcept>

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
    uint32_t remaining = width;
    while (remaining > 0) {
        const uint32_t used = bit_count % 8;
        if (used != 0 || remaining < 8) {
            // Partial byte: fill the free low bits of the last byte.
            const uint32_t k = std::min(8 - used, remaining);
            remaining -= k;
            if (used == 0) bytes.push_back(0);
            const uint32_t chunk = (value >> remaining) & ((1u << k) - 1);
            bytes.back() = static_cast<uint8_t>(bytes.back() | (chunk << (8 - used - k)));
            bit_count += k;
        } else {
            remaining -= 8;
            bytes.push_back(static_cast<uint8_t>((value >> remaining) & 0xFF));
            bit_count += 8;
        }
    }
}

void BitWriter::write_zeros(uint32_t n) {
    if (count_only) {
        bit_count += n;
        return;
    }
    for (; n >= 32; n -= 32) write_bits(0, 32);
    write_bits(0, n);
}

}  // namespace oskavi
