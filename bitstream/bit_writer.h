#pragma once
// Most-significant-bit-first packer for AC-3 frames. In counting mode fields
// are range-checked and counted but nothing is stored, so a size probe fails
// exactly where a real pack would.

#include <cstdint>
#include <vector>

namespace oskavi {

class BitWriter {
public:
    // A non-zero reserve pre-allocates that many bytes (the frame size), so
    // packing a frame never reallocates. 2^31 bytes or more is refused.
    explicit BitWriter(uint32_t reserve_bytes = 0, bool count_only = false);

    // Appends the low `width` bits of value (width 0..32).
    void write_bits(uint32_t value, uint32_t width);
    // write_bits(value, 32), four bytes at once when the count is on a byte boundary.
    void write_word(uint32_t value);
    void write_zeros(uint32_t n);

    std::vector<uint8_t> bytes;  // ceil(bit_count / 8) bytes in writing mode
    uint32_t bit_count = 0;
    bool count_only = false;
};

}  // namespace oskavi
