#pragma once
// Packing of one AC-3 syncframe (48 kHz, constant bit rate): syncinfo, BSI,
// six audio blocks, zero fill, auxdatae/crcrsv and the two check words. The
// packer owns the order and the value of every field the encoder sends.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3/frame_records.h"
#include "bitstream/bit_writer.h"

namespace oskavi {

class FrameAllocation;

using FrameBlocks = std::span<const BlockAnalysis, kBlocksPerFrame>;

// The complete frame (exactly the frame size of the bit rate) with crc1 and
// crc2 in place. channels is 1, 2 or 6; dialnorm_db is -31..-1.
std::vector<uint8_t> write_frame(FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps,
                                 int dialnorm_db, uint32_t channels, uint8_t csnroffst);

// Whether the frame packed at csnroffst fits its frame size; counts bits
// without storing any and allocates nothing.
bool frame_fits(FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps, int dialnorm_db,
                uint32_t channels, uint8_t csnroffst);

// A frame of digital silence for any channel count 1..6.
std::vector<uint8_t> write_silent_frame(uint32_t bitrate_kbps, int dialnorm_db, uint32_t channels);

// Bits of syncinfo, BSI and the six audio blocks (everything before the zero
// fill), packed into a writer of the given mode. frame_fits and write_frame
// are built on it; both modes give the same count.
uint32_t pack_frame_bits(BitWriter& writer, FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps,
                         int dialnorm_db, uint32_t channels, uint8_t csnroffst);

// The same three packs for a caller that packs one frame at several
// csnroffst values: `allocation`, bound to these blocks and this plan,
// carries the SNR-independent half of the bit allocation from call to call.
// The results equal those of the overloads above.
std::vector<uint8_t> write_frame(FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps,
                                 int dialnorm_db, uint32_t channels, uint8_t csnroffst, FrameAllocation& allocation);
bool frame_fits(FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps, int dialnorm_db,
                uint32_t channels, uint8_t csnroffst, FrameAllocation& allocation);
uint32_t pack_frame_bits(BitWriter& writer, FrameBlocks blocks, const FramePlan& plan, uint32_t bitrate_kbps,
                         int dialnorm_db, uint32_t channels, uint8_t csnroffst, FrameAllocation& allocation);

}  // namespace oskavi
