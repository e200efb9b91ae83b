#include "bitstream/frame_header.h"

#include <string_view>

#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

constexpr uint16_t kSyncword = 0x0B77;
constexpr size_t kMinimumHeaderBytes = 7;  // syncinfo (5 bytes) plus the shortest BSI start
constexpr std::string_view kTruncated = "truncated AC-3 header";

// Reads header fields most significant bit first. A read past the end of the
// bytes returns 0 and leaves the reader truncated for good.
class HeaderBitReader {
public:
    explicit HeaderBitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    uint32_t read(uint32_t n) {
        if (truncated_ || position_ + n > uint64_t{bytes_.size()} * 8) {
            truncated_ = true;
            return 0;
        }
        uint32_t value = 0;
        for (uint32_t i = 0; i < n; ++i, ++position_) {
            const uint32_t bit = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u;
            value = (value << 1) | bit;
        }
        return value;
    }

    bool truncated() const { return truncated_; }

private:
    std::span<const uint8_t> bytes_;
    uint64_t position_ = 0;
    bool truncated_ = false;
};

// Fills the header field by field in stream order and returns why it is
// refused, or an empty view when it is accepted. Running out of bytes is the
// first defect met, so it outranks a check on a field read after it.
std::string_view parse_fields(std::span<const uint8_t> bytes, Ac3FrameHeader& h) {
    if (bytes.size() < kMinimumHeaderBytes) {
        return "too short for AC-3 syncinfo/BSI";
    }
    HeaderBitReader bits(bytes);
    const auto refuse = [&bits](std::string_view reason) { return bits.truncated() ? kTruncated : reason; };

    h.syncword = static_cast<uint16_t>(bits.read(16));
    if (h.syncword != kSyncword) {
        return refuse("syncword is not 0x0B77");
    }
    bits.read(16);  // crc1, checked by the verifier over the whole 5/8 region
    h.fscod = static_cast<uint8_t>(bits.read(2));
    if (h.fscod != 0) {
        return refuse("OSKAVI verifier currently accepts 48 kHz AC-3 only");
    }
    h.sample_rate = 48000;
    h.frmsizecod = static_cast<uint8_t>(bits.read(6));
    const size_t rate_index = h.frmsizecod / 2u;
    if (rate_index >= kAc3Bitrates.size()) {
        return refuse("reserved/invalid frmsizecod");
    }
    h.bitrate_kbps = kAc3Bitrates[rate_index];
    h.frame_bytes = static_cast<uint16_t>(2 * kAc3FrameWords[rate_index]);
    h.bsid = static_cast<uint8_t>(bits.read(5));
    if (h.bsid > 8) {
        return refuse("not a baseline AC-3 bsid <= 8 stream");
    }
    h.bsmod = static_cast<uint8_t>(bits.read(3));
    h.acmod = static_cast<uint8_t>(bits.read(3));
    if ((h.acmod & 1u) != 0 && h.acmod != 1) {
        bits.read(2);  // cmixlev: three front channels
    }
    if ((h.acmod & 4u) != 0) {
        bits.read(2);  // surmixlev: surround channels present
    }
    if (h.acmod == 2) {
        bits.read(2);  // dsurmod: 2/0 only
    }
    h.lfeon = bits.read(1) != 0;
    const uint32_t dialnorm = bits.read(5);
    h.dialnorm_db = dialnorm == 0 ? -31 : -static_cast<int32_t>(dialnorm);
    return refuse({});
}

}  // namespace

Ac3FrameHeader parse_frame_header(std::span<const uint8_t> bytes) noexcept {
    Ac3FrameHeader header;
    const std::string_view refusal = parse_fields(bytes, header);
    header.valid = refusal.empty();
    header.error = refusal;
    return header;
}

}  // namespace oskavi
