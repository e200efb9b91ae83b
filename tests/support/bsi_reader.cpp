#include "tests/support/bsi_reader.h"

#include <stdexcept>

#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

// Frame sizes in 16-bit words at 48 kHz, by frmsizecod / 2.
constexpr uint32_t kFrameWords[19] = {64,  80,  96,  112, 128, 160, 192,  224,  256, 320,
                                      384, 448, 512, 640, 768, 896, 1024, 1152, 1280};

class Bits {
public:
    Bits(const std::vector<uint8_t>& bytes, std::size_t first) : bytes_(bytes), position_(first * 8) {}
    uint32_t read(uint32_t n) {
        uint32_t value = 0;
        for (uint32_t i = 0; i < n; ++i, ++position_) {
            if (position_ / 8 >= bytes_.size()) throw std::runtime_error("frame runs past the end of the file");
            value = (value << 1) | ((bytes_[position_ / 8] >> (7 - position_ % 8)) & 1u);
        }
        return value;
    }
    std::optional<uint32_t> read_if(bool present, uint32_t n) {
        return present ? std::optional<uint32_t>(read(n)) : std::nullopt;
    }

private:
    const std::vector<uint8_t>& bytes_;
    std::size_t position_;
};

constexpr uint32_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // nfchans by acmod

void read_bsi(Bits& b, FrameInfo& f) {
    f.bsid = b.read(5);
    f.bsmod = b.read(3);
    f.acmod = b.read(3);
    f.cmixlev = b.read_if((f.acmod & 1) != 0 && f.acmod != 1, 2);
    f.surmixlev = b.read_if((f.acmod & 4) != 0, 2);
    f.dsurmod = b.read_if(f.acmod == 2, 2);
    f.lfeon = b.read(1);
    f.dialnorm = b.read(5);
    f.compr = b.read_if(b.read(1) != 0, 8);
    if (b.read(1) != 0) b.read(8);  // langcode
    if (b.read(1) != 0) {           // audprodie
        f.mixlevel = b.read(5);
        f.roomtyp = b.read(2);
    }
    f.copyrightb = b.read(1);
    f.origbs = b.read(1);
    if (f.bsid == 6) {
        if (b.read(1) != 0) f.xbsi1 = std::vector<uint32_t>{b.read(2), b.read(3), b.read(3), b.read(3), b.read(3)};
        if (b.read(1) != 0) f.xbsi2 = std::vector<uint32_t>{b.read(2), b.read(2), b.read(1), b.read(8), b.read(1)};
    } else {
        const bool timecod1e = b.read(1) != 0;
        if (timecod1e) b.read(14);
        const bool timecod2e = b.read(1) != 0;
        if (timecod2e) b.read(14);
        f.timecodes = timecod1e || timecod2e;
    }
    if (b.read(1) != 0) throw std::runtime_error("unexpected additional BSI");
}

void read_block0_start(Bits& b, FrameInfo& f) {
    const uint32_t nfchans = kChannels[f.acmod];
    b.read(2 * nfchans);  // blksw, dithflag
    f.dynrng = b.read_if(b.read(1) != 0, 8);
    if (b.read(1) == 0) throw std::runtime_error("block 0 must send the coupling strategy");
    if (b.read(1) != 0) return;  // coupling in use: no chbwcod to read here
    if (f.acmod == 2 && b.read(1) != 0) b.read(4);  // rematstr, rematflg
    std::vector<uint32_t> chexpstr;
    for (uint32_t ch = 0; ch < nfchans; ++ch) chexpstr.push_back(b.read(2));
    if (f.lfeon) b.read(1);
    for (uint32_t ch = 0; ch < nfchans; ++ch)
        if (chexpstr[ch] != 0) f.chbwcod.push_back(b.read(6));
}

}  // namespace

std::vector<FrameInfo> read_frames(const std::string& path) {
    const std::vector<uint8_t> bytes = file_bytes(path);
    std::vector<FrameInfo> frames;
    for (std::size_t start = 0; start + 5 < bytes.size();) {
        Bits b(bytes, start);
        if (b.read(16) != 0x0B77) throw std::runtime_error("lost sync");
        b.read(16);  // crc1
        if (b.read(2) != 0) throw std::runtime_error("not 48 kHz");
        const uint32_t frmsizecod = b.read(6);
        FrameInfo f;
        read_bsi(b, f);
        read_block0_start(b, f);
        frames.push_back(f);
        start += 2 * kFrameWords[frmsizecod / 2];
    }
    return frames;
}

}  // namespace oskavi::test
