#pragma once
// What the bit stream information (BSI) of every frame says about the
// programme, beyond what the coding itself needs: service type, mix levels,
// surround flags, copyright, production information and, in the alternate
// syntax (bsid 6), the preferred downmix and its levels. The defaults are the
// values this encoder has always written.

#include <cstdint>
#include <optional>

namespace oskavi {

// audprodie = 1: the mixing room's peak level and type.
struct ProductionInfo {
    uint8_t mixlevel = 25;  // dB SPL - 80 (0..31); 25 = 105 dB SPL
    uint8_t roomtyp = 0;    // 0 not indicated, 1 large room, 2 small room
};

// xbsi1e = 1: the preferred stereo downmix and the Lt/Rt and Lo/Ro levels
// (3-bit codes; centre 0..7 = +3, +1.5, 0, -1.5, -3, -4.5, -6 dB, off;
// surround 3..7 = -1.5, -3, -4.5, -6 dB, off).
struct ExtendedDownmix {
    uint8_t dmixmod = 0;  // 0 not indicated, 1 Lt/Rt, 2 Lo/Ro
    uint8_t ltrtcmixlev = 4;
    uint8_t ltrtsurmixlev = 4;
    uint8_t lorocmixlev = 4;
    uint8_t lorosurmixlev = 4;
};

// xbsi2e = 1: surround EX and headphone encoding, and the A/D converter type.
struct ExtendedFlags {
    uint8_t dsurexmod = 0;     // 0 not indicated, 1 not EX encoded, 2 EX encoded
    uint8_t dheadphonmod = 0;  // 0 not indicated, 1 not headphone encoded, 2 headphone encoded
    uint8_t adconvtyp = 0;     // 0 standard, 1 HDCD
};

struct StreamMetadata {
    uint8_t bsmod = 0;      // 0 complete main service .. 7 voice-over (mono) / karaoke
    uint8_t cmixlev = 1;    // -4.5 dB; sent with three front channels
    uint8_t surmixlev = 0;  // -3 dB; sent with surround channels
    uint8_t dsurmod = 0;    // 2/0 only: 0 not indicated, 1 not Dolby Surround, 2 Dolby Surround
    bool copyrightb = false;
    bool origbs = true;
    std::optional<ProductionInfo> production;
    std::optional<ExtendedDownmix> extended_downmix;
    std::optional<ExtendedFlags> extended_flags;

    // The alternate syntax replaces the two time-code flags with xbsi1e and
    // xbsi2e; it is used only when one of its blocks is sent.
    uint8_t bsid() const { return extended_downmix || extended_flags ? 6 : 8; }
};

// The upper edge of the full-bandwidth channels.
enum class BandwidthMode : uint8_t {
    Automatic,  // where the frame's energy ends, capped by the bit rate
    Full,       // the bit rate's cap in every frame
    Fixed,      // `fixed_endmant` in every frame
};

struct BandwidthSetting {
    BandwidthMode mode = BandwidthMode::Automatic;
    uint32_t fixed_endmant = 0;  // on the grid 73 + 3 i, at most 253
};

}  // namespace oskavi
