#include "bitstream/bit_writer.h"

#include <algorithm>
#include <cstring>
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

// Packs `count` fields (value_of(i), width_of(i)) after `used` bits already
// in out[0] (its top bits), into a 64-bit register filled from the top. At
// most three fields go in between stores (7 + 3 * 16 bits fit), and each
// store writes all eight bytes of the register: the whole bytes done move
// the output on, the rest is written again by the next store, so there are
// no data-dependent branches. out must have room for 8 bytes past the last
// byte the fields touch, and every width must be at most kWidestField.
// Returns the bits of values above their width (0 if all fit) and leaves
// the bit count from out[0] in `bits_written`.
template <typename ValueOf, typename WidthOf>
uint64_t pack_fields(uint8_t* out, uint32_t used, std::size_t count, ValueOf value_of, WidthOf width_of,
                     uint64_t& bits_written) {
    uint64_t acc = uint64_t{out[0]} << 56;
    uint32_t bits = used;
    uint64_t overflow = 0;
    uint8_t* const first = out;
    const auto add = [&](std::size_t i) {
        const uint32_t width = width_of(i);
        const uint64_t value = value_of(i);
        overflow |= value >> width;
        acc |= value << ((64 - bits - width) & 63);
        bits += width;
    };
    const auto store = [&] {
        store_big_endian(out, acc);
        out += bits >> 3;
        acc <<= bits & ~7u;
        bits &= 7;
    };
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        add(i);
        add(i + 1);
        add(i + 2);
        store();
    }
    for (; i < count; ++i) {
        add(i);
        store();
    }
    store_big_endian(out, acc);
    bits_written = 8 * static_cast<uint64_t>(out - first) + bits - used;
    return overflow;
}

// Fields whose widths are known to be at most kWidestField.
template <typename ValueOf, typename WidthOf>
void append_fields(BitWriter& w, std::size_t count, uint64_t total_bits, ValueOf value_of, WidthOf width_of) {
    if (w.count_only) {
        for (std::size_t i = 0; i < count; ++i) {
            if ((uint64_t{value_of(i)} >> width_of(i)) != 0)
                throw std::runtime_error("BitWriter value does not fit field");
        }
        w.bit_count += static_cast<uint32_t>(total_bits);
        return;
    }
    const uint32_t used = w.bit_count % 8;
    const std::size_t start = w.bit_count / 8;  // the byte holding the next bit
    const std::size_t old_size = w.bytes.size();
    w.bytes.resize(start + (used + total_bits + 7) / 8 + 8);
    uint64_t bits_written = 0;
    if (pack_fields(w.bytes.data() + start, used, count, value_of, width_of, bits_written) != 0) {
        // Back to the bytes as they were: a partly filled last byte had zeros below its bits.
        w.bytes.resize(old_size);
        if (used != 0) w.bytes.back() = static_cast<uint8_t>(w.bytes.back() & (0xFF00u >> used));
        throw std::runtime_error("BitWriter value does not fit field");
    }
    w.bit_count += static_cast<uint32_t>(bits_written);
    w.bytes.resize((static_cast<std::size_t>(w.bit_count) + 7) / 8);
}

}  // namespace

void BitWriter::write_fields(std::span<const uint32_t> values, std::span<const uint8_t> widths) {
    if (values.size() != widths.size()) throw std::runtime_error("BitWriter field count mismatch");
    uint64_t total = 0;
    uint8_t widest = 0;
    for (const uint8_t width : widths) {
        total += width;
        widest = std::max(widest, width);
    }
    if (widest > kWidestField) throw std::runtime_error("BitWriter value does not fit field");
    append_fields(*this, values.size(), total, [values](std::size_t i) { return values[i]; },
                  [widths](std::size_t i) { return uint32_t{widths[i]}; });
}

void BitWriter::write_fields(std::span<const uint8_t> values, uint32_t width) {
    if (width > kWidestField) throw std::runtime_error("BitWriter value does not fit field");
    append_fields(*this, values.size(), uint64_t{width} * values.size(),
                  [values](std::size_t i) { return uint32_t{values[i]}; }, [width](std::size_t) { return width; });
}

}  // namespace oskavi
