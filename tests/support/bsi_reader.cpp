#include "tests/support/bsi_reader.h"

#include <sstream>
#include <stdexcept>
#include <utility>

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
    // Reads an n-bit field and writes it as " name=value".
    uint32_t field(std::ostream& out, const char* name, uint32_t n) {
        const uint32_t value = read(n);
        out << ' ' << name << '=' << value;
        return value;
    }
    // Reads fields of the given widths and writes them as " name=a,b,c".
    void fields(std::ostream& out, const char* name, std::initializer_list<uint32_t> widths) {
        out << ' ' << name;
        for (char separator = '='; const uint32_t n : widths) out << std::exchange(separator, ',') << read(n);
    }

private:
    const std::vector<uint8_t>& bytes_;
    std::size_t position_;
};

constexpr uint32_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // nfchans by acmod

// Returns acmod and lfeon, which shape audio block 0.
std::pair<uint32_t, uint32_t> read_bsi(Bits& b, std::ostream& t) {
    const uint32_t bsid = b.field(t, "bsid", 5);
    b.field(t, "bsmod", 3);
    const uint32_t acmod = b.field(t, "acmod", 3);
    if ((acmod & 1) != 0 && acmod != 1) b.field(t, "cmixlev", 2);
    if ((acmod & 4) != 0) b.field(t, "surmixlev", 2);
    if (acmod == 2) b.field(t, "dsurmod", 2);
    const uint32_t lfeon = b.field(t, "lfeon", 1);
    b.field(t, "dialnorm", 5);
    if (b.read(1) != 0) b.field(t, "compr", 8);
    if (b.read(1) != 0) b.field(t, "langcod", 8);
    if (b.read(1) != 0) {  // audprodie
        b.field(t, "mixlevel", 5);
        b.field(t, "roomtyp", 2);
    }
    b.field(t, "copyrightb", 1);
    b.field(t, "origbs", 1);
    if (bsid == 6) {
        if (b.read(1) != 0) b.fields(t, "xbsi1", {2, 3, 3, 3, 3});
        if (b.read(1) != 0) b.fields(t, "xbsi2", {2, 2, 1, 8, 1});
    } else {
        if (b.read(1) != 0) b.field(t, "timecod1", 14);
        if (b.read(1) != 0) b.field(t, "timecod2", 14);
    }
    if (b.read(1) != 0) throw std::runtime_error("unexpected additional BSI");
    return {acmod, lfeon};
}

void read_block0_start(Bits& b, uint32_t acmod, uint32_t lfeon, FrameInfo& f) {
    const uint32_t nfchans = kChannels[acmod];
    b.read(2 * nfchans);                  // blksw, dithflag
    if (b.read(1) != 0) b.read(8);        // dynrng
    if (b.read(1) == 0) throw std::runtime_error("block 0 must send the coupling strategy");
    f.cplinu = b.read(1) != 0;
    if (f.cplinu) return;  // no chbwcod to read here
    if (acmod == 2 && b.read(1) != 0) b.read(4);  // rematstr, rematflg
    std::vector<uint32_t> chexpstr;
    for (uint32_t ch = 0; ch < nfchans; ++ch) chexpstr.push_back(b.read(2));
    if (lfeon) b.read(1);
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
        std::ostringstream bsi;
        const auto [acmod, lfeon] = read_bsi(b, bsi);
        f.bsi = bsi.str().substr(1);
        read_block0_start(b, acmod, lfeon, f);
        frames.push_back(f);
        start += 2 * kFrameWords[frmsizecod / 2];
    }
    return frames;
}

}  // namespace oskavi::test
