#include "bitstream/frame_header.h"

#include <exception>
#include <stdexcept>

#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

constexpr uint16_t kSyncword = 0x0B77;
constexpr size_t kMinimumHeaderBytes = 7;  // syncinfo (5 bytes) plus the shortest BSI start

// Fills header field by field in stream order; throws with the refusal reason.
void parse_fields(std::span<const uint8_t> bytes, Ac3FrameHeader& h) {
    if (bytes.size() < kMinimumHeaderBytes) {
        throw std::runtime_error("too short for AC-3 syncinfo/BSI");
    }
    uint64_t position = 0;
    h.syncword = static_cast<uint16_t>(read_header_bits(bytes, position, 16));
    if (h.syncword != kSyncword) {
        throw std::runtime_error("syncword is not 0x0B77");
    }
    read_header_bits(bytes, position, 16);  // crc1, checked by the verifier over the whole 5/8 region
    h.fscod = static_cast<uint8_t>(read_header_bits(bytes, position, 2));
    if (h.fscod != 0) {
        throw std::runtime_error("OSKAVI verifier currently accepts 48 kHz AC-3 only");
    }
    h.sample_rate = 48000;
    h.frmsizecod = static_cast<uint8_t>(read_header_bits(bytes, position, 6));
    const size_t rate_index = h.frmsizecod / 2u;
    if (rate_index >= kAc3Bitrates.size()) {
        throw std::runtime_error("reserved/invalid frmsizecod");
    }
    h.bitrate_kbps = kAc3Bitrates[rate_index];
    h.frame_bytes = static_cast<uint16_t>(2 * kAc3FrameWords[rate_index]);
    h.bsid = static_cast<uint8_t>(read_header_bits(bytes, position, 5));
    if (h.bsid > 8) {
        throw std::runtime_error("not a baseline AC-3 bsid <= 8 stream");
    }
    h.bsmod = static_cast<uint8_t>(read_header_bits(bytes, position, 3));
    h.acmod = static_cast<uint8_t>(read_header_bits(bytes, position, 3));
    if ((h.acmod & 1u) != 0 && h.acmod != 1) {
        read_header_bits(bytes, position, 2);  // cmixlev: three front channels
    }
    if ((h.acmod & 4u) != 0) {
        read_header_bits(bytes, position, 2);  // surmixlev: surround channels present
    }
    if (h.acmod == 2) {
        read_header_bits(bytes, position, 2);  // dsurmod: 2/0 only
    }
    h.lfeon = read_header_bits(bytes, position, 1) != 0;
    const uint32_t dialnorm = read_header_bits(bytes, position, 5);
    h.dialnorm_db = dialnorm == 0 ? -31 : -static_cast<int32_t>(dialnorm);
}

}  // namespace

uint32_t read_header_bits(std::span<const uint8_t> bytes, uint64_t& bit_position, uint32_t n) {
    if (n > 32 || bit_position + n > uint64_t{bytes.size()} * 8) {
        throw std::runtime_error("truncated AC-3 header");
    }
    uint32_t value = 0;
    for (uint32_t i = 0; i < n; ++i, ++bit_position) {
        const uint32_t bit = (bytes[bit_position / 8] >> (7 - bit_position % 8)) & 1u;
        value = (value << 1) | bit;
    }
    return value;
}

Ac3FrameHeader parse_frame_header(std::span<const uint8_t> bytes) noexcept {
    Ac3FrameHeader header;
    try {
        parse_fields(bytes, header);
        header.valid = true;
    } catch (const std::exception& e) {
        header.valid = false;
        header.error = e.what();
    }
    return header;
}

}  // namespace oskavi
