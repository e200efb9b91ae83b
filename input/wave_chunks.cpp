#include "input/wave_chunks.h"

#include <cstring>
#include <stdexcept>

namespace oskavi {
namespace {

constexpr uint16_t kFormatExtensible = 0xFFFE;

uint64_t read_u64_le(BinaryInputFile& in) {
    const uint64_t low = read_u32_le(in);
    const uint64_t high = read_u32_le(in);
    return low | (high << 32);
}

}  // namespace

uint16_t read_u16_le(BinaryInputFile& in) {
    uint8_t bytes[2];
    if (in.read(bytes, sizeof bytes) != sizeof bytes) {
        throw std::runtime_error("Unexpected end of WAVE file");
    }
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t read_u32_le(BinaryInputFile& in) {
    uint8_t bytes[4];
    if (in.read(bytes, sizeof bytes) != sizeof bytes) {
        throw std::runtime_error("Unexpected end of WAVE file");
    }
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

bool ChunkHeader::is(const char (&name)[5]) const { return std::memcmp(id.data(), name, 4) == 0; }

bool read_wave_header(BinaryInputFile& in) {
    char id[4] = {};
    char form[4] = {};
    in.read(id, sizeof id);
    read_u32_le(in);  // RIFF size: the walk runs to the end of the file instead
    in.read(form, sizeof form);
    const bool is_riff = std::memcmp(id, "RIFF", 4) == 0;
    const bool is_rf64 = std::memcmp(id, "RF64", 4) == 0;
    if ((!is_riff && !is_rf64) || std::memcmp(form, "WAVE", 4) != 0) {
        throw std::runtime_error("Input is not RIFF/WAVE or RF64/WAVE");
    }
    if (!in.good()) {
        throw std::runtime_error("Incomplete WAVE/RF64 file");
    }
    return is_rf64;
}

bool read_chunk_header(BinaryInputFile& in, ChunkHeader& chunk) {
    if (in.read(chunk.id.data(), chunk.id.size()) != chunk.id.size()) {
        return false;
    }
    chunk.size = read_u32_le(in);
    chunk.body_start = in.position();
    return true;
}

uint64_t read_ds64_chunk(BinaryInputFile& in, uint32_t chunk_size) {
    if (chunk_size < 28) {
        throw std::runtime_error("Malformed RF64 ds64 chunk");
    }
    read_u64_le(in);  // RIFF size
    const uint64_t data_size = read_u64_le(in);
    read_u64_le(in);  // sample count
    const uint64_t table_length = read_u32_le(in);
    if (12 * table_length + 28 > chunk_size) {
        throw std::runtime_error("Malformed RF64 ds64 table");
    }
    return data_size;
}

void read_fmt_chunk(BinaryInputFile& in, uint32_t chunk_size, WaveFormat& format) {
    if (chunk_size < 16) {
        throw std::runtime_error("Malformed WAVE fmt chunk");
    }
    format.format_code = read_u16_le(in);
    format.channels = read_u16_le(in);
    format.sample_rate = read_u32_le(in);
    read_u32_le(in);  // average bytes per second
    read_u16_le(in);  // block align: the frame size is computed instead
    format.bits_per_sample = read_u16_le(in);
    if (chunk_size < 40 || format.format_code != kFormatExtensible) {
        return;
    }
    if (read_u16_le(in) < 22) {
        throw std::runtime_error("Malformed WAVEFORMATEXTENSIBLE fmt chunk");
    }
    read_u16_le(in);  // valid bits: a 24-bit payload in 32-bit containers reads as 32-bit
    format.channel_mask = read_u32_le(in);
    uint8_t guid[16] = {};
    in.read(guid, sizeof guid);
    // The sub-format GUID's leading 16 bits carry the plain format code.
    format.format_code = static_cast<uint16_t>(guid[0] | (guid[1] << 8));
}

uint64_t data_chunk_size(uint32_t size_field, bool is_rf64, uint64_t ds64_data_size) {
    if (!is_rf64 || size_field != kRf64SizeFromDs64) {
        return size_field;
    }
    if (ds64_data_size == 0) {
        throw std::runtime_error("RF64 data chunk requires ds64 dataSize");
    }
    return ds64_data_size;
}

void validate_wave_encoding(const WaveFormat& format) {
    if (format.format_code != 1 && format.format_code != 3) {
        throw std::runtime_error("Unsupported WAVE encoding (PCM/IEEE float only)");
    }
    const uint16_t bits = format.bits_per_sample;
    if (bits != 16 && bits != 24 && bits != 32) {
        throw std::runtime_error("Supported WAVE depths: 16/24/32-bit");
    }
    if (format.format_code == 3 && bits != 32) {
        throw std::runtime_error("Only float32 WAVE is supported");
    }
}

void skip_chunk(BinaryInputFile& in, uint64_t body_start, uint64_t size) {
    in.clear();
    in.seek(body_start + size + (size & 1));
}

}  // namespace oskavi
