#include "tests/support/wave_builder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace oskavi::test {

void put_u16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_u32(Bytes& out, uint32_t value) {
    put_u16(out, static_cast<uint16_t>(value));
    put_u16(out, static_cast<uint16_t>(value >> 16));
}

void put_u64(Bytes& out, uint64_t value) {
    put_u32(out, static_cast<uint32_t>(value));
    put_u32(out, static_cast<uint32_t>(value >> 32));
}

void put_id(Bytes& out, const char* id) { out.insert(out.end(), id, id + 4); }

Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t sample_rate, uint16_t bits) {
    Bytes body;
    const uint16_t block_align = static_cast<uint16_t>(channels * (bits / 8));
    put_u16(body, tag);
    put_u16(body, channels);
    put_u32(body, sample_rate);
    put_u32(body, sample_rate * block_align);
    put_u16(body, block_align);
    put_u16(body, bits);
    return body;
}

Bytes fmt_extensible_body(uint16_t channels, uint32_t sample_rate, uint16_t bits, uint32_t channel_mask,
                          uint16_t subformat, uint16_t extension_size) {
    Bytes body = fmt_body(0xFFFE, channels, sample_rate, bits);
    put_u16(body, extension_size);
    put_u16(body, bits);
    put_u32(body, channel_mask);
    put_u16(body, subformat);
    constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                       0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.insert(body.end(), std::begin(kGuidTail), std::end(kGuidTail));
    return body;
}

Bytes ds64_body(uint64_t data_size, uint32_t table_length, uint32_t written_entries) {
    Bytes body;
    put_u64(body, 0);  // RIFF size
    put_u64(body, data_size);
    put_u64(body, 0);  // sample count
    put_u32(body, table_length);
    body.resize(body.size() + 12 * static_cast<size_t>(std::min(table_length, written_entries)), 0);
    return body;
}

Bytes pcm16_bytes(std::span<const int16_t> samples) {
    Bytes out;
    for (const int16_t s : samples) {
        put_u16(out, static_cast<uint16_t>(s));
    }
    return out;
}

Bytes pcm24_bytes(std::span<const int32_t> samples) {
    Bytes out;
    for (const int32_t s : samples) {
        const auto u = static_cast<uint32_t>(s);
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
        out.push_back(static_cast<uint8_t>(u >> 16));
    }
    return out;
}

Bytes pcm32_bytes(std::span<const int32_t> samples) {
    Bytes out;
    for (const int32_t s : samples) {
        put_u32(out, static_cast<uint32_t>(s));
    }
    return out;
}

Bytes float32_bytes(std::span<const float> samples) {
    Bytes out;
    for (const float s : samples) {
        uint32_t bits;
        std::memcpy(&bits, &s, sizeof bits);
        put_u32(out, bits);
    }
    return out;
}

WaveBuilder::WaveBuilder(const char* riff_id, const char* form) {
    put_id(bytes_, riff_id);
    put_u32(bytes_, 0);
    put_id(bytes_, form);
}

WaveBuilder& WaveBuilder::chunk(const char* id, std::span<const uint8_t> body) {
    chunk_with_size(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() % 2 != 0) {
        bytes_.push_back(0);
    }
    return *this;
}

WaveBuilder& WaveBuilder::chunk_with_size(const char* id, uint32_t size_field, std::span<const uint8_t> body) {
    put_id(bytes_, id);
    put_u32(bytes_, size_field);
    return raw(body);
}

WaveBuilder& WaveBuilder::raw(std::span<const uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Bytes WaveBuilder::bytes() const {
    Bytes out = bytes_;
    const auto riff_size = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<uint8_t>(riff_size >> (8 * i));
    }
    return out;
}

std::string WaveBuilder::write(const std::string& path) const {
    write_file(path, bytes());
    return path;
}

Bytes canonical_wave(const Bytes& fmt, const Bytes& data) {
    return WaveBuilder().chunk("fmt ", fmt).chunk("data", data).bytes();
}

void write_file(const std::string& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write test file " + path);
    }
}

}  // namespace oskavi::test
