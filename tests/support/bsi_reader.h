#pragma once
// A reader of the bit stream information of AC-3 frames, written from A/52
// independently of the encoder's packer: every BSI field, both syntaxes
// (bsid 8 and the alternate bsid 6), and the start of audio block 0 up to the
// channel bandwidth codes, for streams without coupling.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace oskavi::test {

struct FrameInfo {
    uint32_t bsid = 0, bsmod = 0, acmod = 0, lfeon = 0, dialnorm = 0;
    std::optional<uint32_t> cmixlev, surmixlev, dsurmod, compr, mixlevel, roomtyp;
    uint32_t copyrightb = 0, origbs = 0;
    // Alternate syntax (bsid 6) blocks, when sent.
    std::optional<std::vector<uint32_t>> xbsi1;  // dmixmod, ltrtcmixlev, ltrtsurmixlev, lorocmixlev, lorosurmixlev
    std::optional<std::vector<uint32_t>> xbsi2;  // dsurexmod, dheadphonmod, adconvtyp, xbsi2, encinfo
    bool timecodes = false;                      // timecod1e or timecod2e (bsid 8)
    // Audio block 0 (only when it has no coupling).
    std::optional<uint32_t> dynrng;              // block 0's dynrng when dynrnge is set
    std::vector<uint32_t> chbwcod;               // per channel that sends exponents
};

// Every frame of an AC-3 file, in order.
std::vector<FrameInfo> read_frames(const std::string& path);

}  // namespace oskavi::test
