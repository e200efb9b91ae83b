#pragma once
// Packing of one AC-3 syncframe (48 kHz, constant bit rate): syncinfo, BSI,
// six audio blocks, zero fill, auxdatae/crcrsv and the two check words. The
// packer owns the order and the value of every field the encoder sends.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3/dynamic_range.h"
#include "ac3/frame_records.h"
#include "ac3/stream_metadata.h"
#include "bitstream/bit_writer.h"

namespace oskavi {

class FrameAllocation;

// csnroffst is a 6-bit field: 63 is the largest coarse SNR offset.
inline constexpr uint8_t kMaxCsnroffst = 63;

using FrameBlocks = std::span<const BlockAnalysis, kBlocksPerFrame>;

// One frame as the packer sees it: the six analysed blocks, the frame plan
// and the stream parameters. Only csnroffst varies between packs of a frame.
// channels is 1, 2 or 6 (any of 1..6 for a silent frame); dialnorm_db is
// -31..-1.
struct FrameContext {
    FrameBlocks blocks;
    const FramePlan& plan;
    uint32_t bitrate_kbps = 448;
    int32_t dialnorm_db = -31;
    uint32_t channels = 2;
    StreamMetadata metadata{};
    FrameGainWords gains{};  // dynamic range words; none by default
};

// The complete frame (exactly the frame size of the bit rate) with crc1 and
// crc2 in place. Throws FrameSizeOverflow when it does not fit.
std::vector<uint8_t> write_frame(const FrameContext& frame, uint8_t csnroffst);

// Whether the frame packed at csnroffst fits its frame size; counts bits
// without storing any and allocates nothing.
bool frame_fits(const FrameContext& frame, uint8_t csnroffst);

// Bits of syncinfo, BSI and the six audio blocks (everything before the zero
// fill), packed into a writer of the given mode. frame_fits and write_frame
// are built on it; both modes give the same count.
uint32_t pack_frame_bits(BitWriter& writer, const FrameContext& frame, uint8_t csnroffst);

// The same three packs for a caller that packs one frame at several
// csnroffst values: `allocation`, bound to the frame's blocks and plan,
// carries the SNR-independent half of the bit allocation from call to call.
// The results equal those of the overloads above.
std::vector<uint8_t> write_frame(const FrameContext& frame, uint8_t csnroffst, FrameAllocation& allocation);
bool frame_fits(const FrameContext& frame, uint8_t csnroffst, FrameAllocation& allocation);
uint32_t pack_frame_bits(BitWriter& writer, const FrameContext& frame, uint8_t csnroffst,
                         FrameAllocation& allocation);

// A frame of digital silence for any channel count 1..6: every exponent 15
// over the narrowest bandwidth (73 bins), sent in block 0 and reused, with
// every SNR offset 0, so that no mantissa is sent. It carries the stream's
// metadata like any other frame.
std::vector<uint8_t> write_silent_frame(uint32_t bitrate_kbps, int dialnorm_db, uint32_t channels,
                                        const StreamMetadata& metadata = {});

}  // namespace oskavi
