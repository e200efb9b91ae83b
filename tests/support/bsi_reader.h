#pragma once
// A reader of the bit stream information of AC-3 frames, written from A/52
// independently of the encoder's packer: every BSI field, both syntaxes
// (bsid 8 and the alternate bsid 6), and the start of audio block 0 up to the
// coupling flag and, for streams without coupling, the channel bandwidth codes.

#include <cstdint>
#include <string>
#include <vector>

namespace oskavi::test {

struct FrameInfo {
    // Every BSI value sent, as "name=value" words in stream order; the
    // alternate syntax's extra blocks as xbsi1=dmixmod,ltrtcmixlev,
    // ltrtsurmixlev,lorocmixlev,lorosurmixlev and
    // xbsi2=dsurexmod,dheadphonmod,adconvtyp,xbsi2,encinfo.
    std::string bsi;
    bool cplinu = false;           // block 0 uses coupling
    std::vector<uint32_t> chbwcod;  // block 0 without coupling, per channel that sends exponents
};

// Every frame of an AC-3 file, in order.
std::vector<FrameInfo> read_frames(const std::string& path);

}  // namespace oskavi::test
