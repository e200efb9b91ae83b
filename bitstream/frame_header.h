#pragma once
// Parser of the AC-3 syncinfo and the start of the BSI (A/52 5.3.1, 5.3.2),
// up to and including dialnorm: enough to walk a stream frame by frame.

#include <cstdint>
#include <span>
#include <string>

namespace oskavi {

struct Ac3FrameHeader {
    bool valid = false;
    std::string error;          // why the header was refused; empty when valid
    uint16_t syncword = 0;      // 0x0B77 when valid
    uint8_t fscod = 0;          // 0 (48 kHz) when valid
    uint8_t frmsizecod = 0;     // as read; both codes of a pair mean the same size at 48 kHz
    uint32_t sample_rate = 0;   // 48000 once fscod has been accepted
    uint32_t bitrate_kbps = 0;
    uint16_t frame_bytes = 0;
    uint8_t bsid = 0;
    uint8_t bsmod = 0;
    uint8_t acmod = 0;
    bool lfeon = false;
    int32_t dialnorm_db = -31;  // -dialnorm; the reserved code 0 is read as -31 dB
};

// Parses the header at the start of bytes (which may run on into later
// frames). Never throws: a refused header has valid false and the reason in
// error.
Ac3FrameHeader parse_frame_header(std::span<const uint8_t> bytes) noexcept;

}  // namespace oskavi
