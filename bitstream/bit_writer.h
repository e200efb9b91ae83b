#pragma once
// Most-significant-bit-first packer for AC-3 frames. In counting mode fields
// are range-checked and counted but nothing is stored, so a size probe fails
// exactly where a real pack would.

#include <cstdint>
#include <span>
#include <vector>

namespace oskavi {

class BitWriter {
public:
    // A non-zero reserve pre-allocates that many bytes (the frame size), so
    // packing a frame never reallocates. 2^31 bytes or more is refused.
    explicit BitWriter(uint32_t reserve_bytes = 0, bool count_only = false);

    // Appends the low `width` bits of value (width 0..32).
    void write_bits(uint32_t value, uint32_t width);
    void write_zeros(uint32_t n);
    // Appends fields in order, as write_bits would one after another: field
    // i is the low widths[i] bits of values[i] (widths at most 16; a width-0
    // field adds nothing), or, in the second form, every value in `width`
    // bits. Throws "BitWriter field count mismatch" for spans of unequal
    // length, and "BitWriter value does not fit field" (writing nothing) for
    // a wider width or a value with bits above its width.
    void write_fields(std::span<const uint32_t> values, std::span<const uint8_t> widths);
    void write_fields(std::span<const uint8_t> values, uint32_t width);

    std::vector<uint8_t> bytes;  // ceil(bit_count / 8) bytes in writing mode
    uint32_t bit_count = 0;
    bool count_only = false;
};

}  // namespace oskavi
