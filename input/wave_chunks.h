#pragma once
// The RIFF/WAVE and RF64/WAVE chunk format as both WAVE readers walk it:
// a 12-byte header, then chunks of an 8-byte header (id, 32-bit size), the
// body and a pad byte after an odd size. All integers are little-endian.

#include <array>
#include <cstdint>

#include "platform/binary_file.h"

namespace oskavi {

// Reads 2 or 4 bytes little-endian; a short read throws "Unexpected end of WAVE file".
uint16_t read_u16_le(BinaryInputFile& in);
uint32_t read_u32_le(BinaryInputFile& in);

// Fields of the last `fmt ` chunk read. The format code is the tag, or for
// WAVE_FORMAT_EXTENSIBLE the first 16 bits of the sub-format GUID.
struct WaveFormat {
    uint16_t format_code = 0;
    uint32_t channels = 0;
    uint32_t sample_rate = 0;
    uint16_t bits_per_sample = 0;
    uint32_t channel_mask = 0;  // 0 until an extensible part has been read
};

struct ChunkHeader {
    std::array<char, 4> id{};
    uint32_t size = 0;
    uint64_t body_start = 0;

    bool is(const char (&name)[5]) const;
};

inline constexpr uint32_t kRf64SizeFromDs64 = 0xFFFFFFFFu;

// Reads and checks the 12-byte file header; returns true for an RF64 file.
bool read_wave_header(BinaryInputFile& in);

// Reads the next chunk header; false when not even the id can be read (the
// normal end of the walk). A missing size field throws.
bool read_chunk_header(BinaryInputFile& in, ChunkHeader& chunk);

// Parses a `ds64` body and returns its 64-bit data size.
uint64_t read_ds64_chunk(BinaryInputFile& in, uint32_t chunk_size);

// Parses a `fmt ` body into `format`, overriding what an earlier one set.
void read_fmt_chunk(BinaryInputFile& in, uint32_t chunk_size, WaveFormat& format);

// Size of a `data` body: the 32-bit field, or the `ds64` size in an RF64 file
// whose field is 0xFFFFFFFF.
uint64_t data_chunk_size(uint32_t size_field, bool is_rf64, uint64_t ds64_data_size);

// Refuses encodings other than 16/24/32-bit PCM and 32-bit float, checking
// the code, then the width, then the float width.
void validate_wave_encoding(const WaveFormat& format);

// Positions the file after a chunk body and its pad byte.
void skip_chunk(BinaryInputFile& in, uint64_t body_start, uint64_t size);

}  // namespace oskavi
