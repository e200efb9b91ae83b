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

void BitWriter::write_word(uint32_t value) {
    if (count_only || bit_count % 8 != 0) {
        write_bits(value, 32);
        return;
    }
    const uint8_t word[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                             static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    bytes.insert(bytes.end(), word, word + 4);
    bit_count += 32;
}

void BitWriter::write_zeros(uint32_t n) {
    if (!count_only) {
        // The free low bits of the last byte are already 0; new bytes start as 0.
        bytes.resize((static_cast<std::size_t>(bit_count) + n + 7) / 8);
    }
    bit_count += n;
}

}  // namespace oskavi
