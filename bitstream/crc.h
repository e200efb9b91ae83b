#pragma once
// A/52 CRC-16 (x^16 + x^15 + x^2 + 1, MSB first, no reflection) and the
// check-word patch that makes a region's CRC come out as zero.

#include <array>
#include <cstdint>
#include <span>

namespace oskavi {

// CRC of bit_count bits starting at bit position start_bit (bit p lies in
// byte p / 8 at mask 0x80 >> (p % 8)).
uint16_t crc16(std::span<const uint8_t> bytes, uint64_t start_bit, uint64_t bit_count, uint16_t initial);

using CrcPatchTable = std::array<uint16_t, 16>;

// Cached solution table for a 16-bit field at field_offset bits inside a
// region of region_length bits. Thread-safe; entries live until exit.
const CrcPatchTable& patch_table(uint32_t field_offset, uint32_t region_length);

// Rewrites the 16 bits at field_position so that the CRC-16 (initial 0) of
// [region_start, region_start + region_length) is zero.
void crc_patch(std::span<uint8_t> bytes, uint32_t field_position, uint32_t region_start, uint32_t region_length);

// Patches both check words of a complete frame of frame_words 16-bit words:
// crc1 (bit 16) over the first 5/8 of the frame after the syncword, then
// crc2 (the last 16 bits) over everything after the syncword. crc1 must be
// final before crc2 is solved, so the order matters.
void patch_frame_crcs(std::span<uint8_t> frame, uint32_t frame_words);

// Bits protected by crc1, syncword excluded: W58 * 16 - 16 with
// W58 = (W >> 1) + (W >> 3).
uint32_t crc1_region_bits(uint32_t frame_words);

}  // namespace oskavi
