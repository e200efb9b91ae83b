#include "tests/support/wave_builder.h"

#include <bit>

#include "tests/support/temp_dir.h"

namespace oskavi::test {

void put_le(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t sample_rate, uint16_t bits) {
    Bytes body;
    const uint32_t block_align = channels * (bits / 8u);
    put_le(body, tag, 2);
    put_le(body, channels, 2);
    put_le(body, sample_rate, 4);
    put_le(body, sample_rate * block_align, 4);
    put_le(body, block_align, 2);
    put_le(body, bits, 2);
    return body;
}

Bytes fmt_extensible_body(uint16_t channels, uint32_t sample_rate, uint16_t bits, uint32_t channel_mask,
                          uint16_t subformat, uint16_t extension_size) {
    Bytes body = fmt_body(0xFFFE, channels, sample_rate, bits);
    put_le(body, extension_size, 2);
    put_le(body, bits, 2);
    put_le(body, channel_mask, 4);
    put_le(body, subformat, 2);
    for (const uint8_t b : {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}) body.push_back(b);
    return body;
}

Bytes ds64_body(uint64_t data_size, uint32_t table_length, uint32_t written_entries) {
    Bytes body;
    put_le(body, 0, 8);  // RIFF size
    put_le(body, data_size, 8);
    put_le(body, 0, 8);  // sample count
    put_le(body, table_length, 4);
    body.resize(body.size() + 12 * size_t{written_entries}, 0);
    return body;
}

Bytes pcm_bytes(std::span<const int32_t> samples, int width) {
    Bytes out;
    for (const int32_t s : samples) put_le(out, static_cast<uint32_t>(s), width);
    return out;
}

Bytes float32_bytes(std::span<const float> samples) {
    Bytes out;
    for (const float s : samples) put_le(out, std::bit_cast<uint32_t>(s), 4);
    return out;
}

WaveBuilder::WaveBuilder(const char* riff_id, const char* form) : bytes_(riff_id, riff_id + 4) {
    put_le(bytes_, 0, 4);
    bytes_.insert(bytes_.end(), form, form + 4);
}

WaveBuilder& WaveBuilder::chunk(const char* id, std::span<const uint8_t> body) {
    chunk_with_size(id, static_cast<uint32_t>(body.size()), body);
    if (body.size() % 2 != 0) bytes_.push_back(0);
    return *this;
}

WaveBuilder& WaveBuilder::chunk_with_size(const char* id, uint32_t size_field, std::span<const uint8_t> body) {
    bytes_.insert(bytes_.end(), id, id + 4);
    put_le(bytes_, size_field, 4);
    bytes_.insert(bytes_.end(), body.begin(), body.end());
    return *this;
}

Bytes WaveBuilder::bytes() const {
    Bytes out = bytes_;
    const auto riff_size = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(riff_size >> (8 * i));
    return out;
}

std::string WaveBuilder::write(const std::string& path) const {
    write_file_bytes(path, bytes());
    return path;
}

Bytes canonical_wave(const Bytes& fmt, const Bytes& data) {
    return WaveBuilder().chunk("fmt ", fmt).chunk("data", data).bytes();
}

}  // namespace oskavi::test
