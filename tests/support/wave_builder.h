#pragma once
// Byte-exact construction of RIFF/WAVE and RF64/WAVE files for tests, so that
// every header field, chunk size and pad byte can be set or broken on purpose.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace oskavi::test {

using Bytes = std::vector<uint8_t>;

// Appends the low `width` bytes of value, least significant first.
void put_le(Bytes& out, uint64_t value, int width);

// A 16-byte plain `fmt ` body. Block align and byte rate are derived.
Bytes fmt_body(uint16_t tag, uint16_t channels, uint32_t sample_rate, uint16_t bits);

// A 40-byte WAVE_FORMAT_EXTENSIBLE body whose sub-format GUID starts with
// `subformat` (1 PCM, 3 float) followed by the standard GUID tail.
Bytes fmt_extensible_body(uint16_t channels, uint32_t sample_rate, uint16_t bits, uint32_t channel_mask,
                          uint16_t subformat, uint16_t extension_size = 22);

// A `ds64` body of 28 bytes plus `written_entries` zeroed 12-byte table
// entries, declaring `table_length` of them (so a huge length costs nothing).
Bytes ds64_body(uint64_t data_size, uint32_t table_length = 0, uint32_t written_entries = 0);

// Integer samples stored in `width` bytes each (their low bytes), and floats.
Bytes pcm_bytes(std::span<const int32_t> samples, int width);
Bytes float32_bytes(std::span<const float> samples);

class WaveBuilder {
public:
    // Starts with the 12-byte header; the RIFF size is filled in by bytes().
    explicit WaveBuilder(const char* riff_id = "RIFF", const char* form = "WAVE");

    // A chunk whose size field is the body length, padded to even length.
    WaveBuilder& chunk(const char* id, std::span<const uint8_t> body);
    // A chunk with an arbitrary size field followed by exactly `body`.
    WaveBuilder& chunk_with_size(const char* id, uint32_t size_field, std::span<const uint8_t> body);

    Bytes bytes() const;
    // Writes the file and returns its path.
    std::string write(const std::string& path) const;

private:
    Bytes bytes_;
};

// A canonical file: header, `fmt ` then `data`.
Bytes canonical_wave(const Bytes& fmt, const Bytes& data);

}  // namespace oskavi::test
