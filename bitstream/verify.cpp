#include "bitstream/verify.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "bitstream/crc.h"
#include "bitstream/frame_header.h"
#include "platform/binary_file.h"

namespace oskavi {
namespace {

std::vector<uint8_t> read_whole_file(const std::string& path) {
    BinaryInputFile file;
    if (!file.open(path)) {
        throw std::runtime_error("Cannot open AC-3 input: " + path);
    }
    // Read until the stream ends rather than trusting the reported size,
    // which means nothing for things that open but are not files.
    std::vector<uint8_t> bytes;
    constexpr size_t kChunk = size_t{1} << 20;
    for (size_t got = kChunk; got == kChunk;) {
        const size_t old_size = bytes.size();
        bytes.resize(old_size + kChunk);
        got = file.read(bytes.data() + old_size, kChunk);
        bytes.resize(old_size + got);
    }
    if (bytes.empty()) {
        throw std::runtime_error("Empty AC-3 file");
    }
    return bytes;
}

// crc1 covers the first 5/8 of the frame after the syncword; crc2 then makes
// the CRC of everything after the syncword zero, which with a zero first part
// is the A/52 check of the last 3/8.
void check_frame_crcs(std::span<const uint8_t> frame, uint64_t frame_index) {
    const uint32_t words = static_cast<uint32_t>(frame.size() / 2);
    const uint32_t words_5_8 = (words >> 1) + (words >> 3);
    if (crc16(frame, 16, uint64_t{words_5_8} * 16 - 16, 0) != 0) {
        throw std::runtime_error("CRC1 failed at frame " + std::to_string(frame_index));
    }
    if (crc16(frame, 16, uint64_t{frame.size()} * 8 - 16, 0) != 0) {
        throw std::runtime_error("CRC2/full-frame CRC failed at frame " + std::to_string(frame_index));
    }
}

}  // namespace

int verify_ac3_file(const std::string& path, std::ostream& out) {
    const std::vector<uint8_t> file = read_whole_file(path);
    const std::span<const uint8_t> all(file);

    uint64_t offset = 0;
    uint64_t frame_index = 0;
    Ac3FrameHeader first;
    while (offset < all.size()) {
        const Ac3FrameHeader h = parse_frame_header(all.subspan(offset));
        if (!h.valid) {
            throw std::runtime_error("Frame " + std::to_string(frame_index) + " @ byte " + std::to_string(offset) +
                                     ": " + h.error);
        }
        if (offset + h.frame_bytes > all.size()) {
            throw std::runtime_error("Truncated frame at byte " + std::to_string(offset));
        }
        check_frame_crcs(all.subspan(offset, h.frame_bytes), frame_index);
        if (frame_index == 0) {
            first = h;
        } else if (h.bitrate_kbps != first.bitrate_kbps) {
            throw std::runtime_error("Bitrate changed in CBR verification mode");
        }
        ++frame_index;
        offset += h.frame_bytes;
    }

    out << "AC-3 verify:  " << frame_index << " frame(s), 48 kHz, " << first.bitrate_kbps << " kbps CBR, acmod "
        << static_cast<unsigned>(first.acmod) << ", LFE " << (first.lfeon ? "on" : "off") << "\n"
        << "Structure:    sync/frame sizing/BSI headers valid\n"
        << "CRC:          CRC1 and full-frame CRC valid\n"
        << "Audio blocks: structural frame verification complete; use FFmpeg regression for decode validation\n";
    return 0;
}

}  // namespace oskavi
