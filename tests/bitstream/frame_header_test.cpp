// Header parsing of the AC-3 syncinfo and BSI start, on headers packed with
// the project's BitWriter.

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "bitstream/bit_writer.h"
#include "bitstream/frame_header.h"

namespace oskavi {
namespace {

struct HeaderFields {
    uint32_t syncword = 0x0B77;
    uint32_t fscod = 0;
    uint32_t frmsizecod = 30;
    uint32_t bsid = 8;
    uint32_t bsmod = 0;
    uint32_t acmod = 2;
    uint32_t mix_marker = 3;  // written into every present cmixlev/surmixlev/dsurmod field
    uint32_t lfeon = 0;
    uint32_t dialnorm = 27;
};

// Packs the fields in A/52 order and pads with zero bytes to total_bytes.
std::vector<uint8_t> pack_header(const HeaderFields& f, size_t total_bytes = 16) {
    BitWriter w;
    w.write_bits(f.syncword, 16);
    w.write_bits(0xABCD, 16);  // crc1: not interpreted by the parser
    w.write_bits(f.fscod, 2);
    w.write_bits(f.frmsizecod, 6);
    w.write_bits(f.bsid, 5);
    w.write_bits(f.bsmod, 3);
    w.write_bits(f.acmod, 3);
    if ((f.acmod & 1) && f.acmod != 1) w.write_bits(f.mix_marker, 2);
    if (f.acmod & 4) w.write_bits(f.mix_marker, 2);
    if (f.acmod == 2) w.write_bits(f.mix_marker, 2);
    w.write_bits(f.lfeon, 1);
    w.write_bits(f.dialnorm, 5);
    std::vector<uint8_t> bytes = w.bytes;
    bytes.resize(total_bytes, 0);
    return bytes;
}

TEST(FrameHeader, EveryAcmodReadsItsOptionalFieldsInPlace) {
    for (uint32_t acmod = 0; acmod < 8; ++acmod) {
        SCOPED_TRACE(acmod);
        HeaderFields f;
        f.acmod = acmod;
        f.bsmod = 5;
        f.bsid = 6;
        f.lfeon = 1;
        f.dialnorm = 9;
        const Ac3FrameHeader h = parse_frame_header(pack_header(f));
        ASSERT_TRUE(h.valid) << h.error;
        EXPECT_EQ(h.error, "");
        EXPECT_EQ(h.syncword, 0x0B77);
        EXPECT_EQ(h.sample_rate, 48000u);
        EXPECT_EQ(h.bsid, 6);
        EXPECT_EQ(h.bsmod, 5);
        EXPECT_EQ(h.acmod, acmod);
        EXPECT_TRUE(h.lfeon);
        EXPECT_EQ(h.dialnorm_db, -9);
    }
}

TEST(FrameHeader, BothCodesOfAPairGiveTheSameRateAndSize) {
    const uint32_t kbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
    for (uint32_t code = 0; code < 38; ++code) {
        HeaderFields f;
        f.frmsizecod = code;
        const Ac3FrameHeader h = parse_frame_header(pack_header(f));
        ASSERT_TRUE(h.valid) << code;
        EXPECT_EQ(h.frmsizecod, code);
        EXPECT_EQ(h.bitrate_kbps, kbps[code / 2]);
        EXPECT_EQ(h.frame_bytes, kbps[code / 2] * 4);  // 1536 samples at 48 kHz
    }
}

TEST(FrameHeader, DialnormCodeZeroMeansMinus31) {
    HeaderFields f;
    f.dialnorm = 0;
    EXPECT_EQ(parse_frame_header(pack_header(f)).dialnorm_db, -31);
    f.dialnorm = 1;
    EXPECT_EQ(parse_frame_header(pack_header(f)).dialnorm_db, -1);
    f.dialnorm = 31;
    EXPECT_EQ(parse_frame_header(pack_header(f)).dialnorm_db, -31);
}

TEST(FrameHeader, RefusedHeadersCarryTheirReason) {
    struct Case {
        HeaderFields fields;
        const char* error;
    };
    std::vector<Case> cases;
    cases.push_back({HeaderFields{.syncword = 0x0B78}, "syncword is not 0x0B77"});
    for (uint32_t fscod = 1; fscod < 4; ++fscod)
        cases.push_back({HeaderFields{.fscod = fscod}, "OSKAVI verifier currently accepts 48 kHz AC-3 only"});
    cases.push_back({HeaderFields{.frmsizecod = 38}, "reserved/invalid frmsizecod"});
    cases.push_back({HeaderFields{.frmsizecod = 63}, "reserved/invalid frmsizecod"});
    cases.push_back({HeaderFields{.bsid = 9}, "not a baseline AC-3 bsid <= 8 stream"});
    cases.push_back({HeaderFields{.bsid = 31}, "not a baseline AC-3 bsid <= 8 stream"});
    for (const Case& c : cases) {
        const Ac3FrameHeader h = parse_frame_header(pack_header(c.fields));
        EXPECT_FALSE(h.valid);
        EXPECT_EQ(h.error, c.error);
    }
    // Fields read before the refusal keep their values.
    const Ac3FrameHeader h = parse_frame_header(pack_header(HeaderFields{.bsid = 12}));
    EXPECT_EQ(h.sample_rate, 48000u);
    EXPECT_EQ(h.bitrate_kbps, 448u);
    const Ac3FrameHeader wrong_rate = parse_frame_header(pack_header(HeaderFields{.fscod = 1}));
    EXPECT_EQ(wrong_rate.sample_rate, 0u);
}

TEST(FrameHeader, ShortInputIsRefusedNotOverrun) {
    const std::vector<uint8_t> full = pack_header(HeaderFields{.acmod = 7});
    const Ac3FrameHeader six = parse_frame_header(std::span(full).first(6));
    EXPECT_FALSE(six.valid);
    EXPECT_EQ(six.error, "too short for AC-3 syncinfo/BSI");
    EXPECT_EQ(six.syncword, 0);  // refused before reading anything

    // 3/2 needs cmixlev and surmixlev: 61 header bits do not fit in 7 bytes.
    const Ac3FrameHeader seven = parse_frame_header(std::span(full).first(7));
    EXPECT_FALSE(seven.valid);
    EXPECT_EQ(seven.error, "truncated AC-3 header");
    EXPECT_EQ(seven.acmod, 7);

    EXPECT_TRUE(parse_frame_header(std::span(full).first(8)).valid);
    EXPECT_EQ(parse_frame_header({}).error, "too short for AC-3 syncinfo/BSI");
}

TEST(FrameHeader, ReadHeaderBitsIsMsbFirstAndBounded) {
    const std::vector<uint8_t> bytes = {0xA5, 0x0F, 0xFF};
    uint64_t position = 4;
    EXPECT_EQ(read_header_bits(bytes, position, 8), 0x50u);
    EXPECT_EQ(position, 12u);
    EXPECT_EQ(read_header_bits(bytes, position, 0), 0u);
    EXPECT_EQ(read_header_bits(bytes, position, 12), 0xFFFu);
    EXPECT_EQ(position, 24u);
    EXPECT_THROW(read_header_bits(bytes, position, 1), std::runtime_error);

    const std::vector<uint8_t> five = {0x80, 0, 0, 1, 0xFF};
    position = 0;
    EXPECT_EQ(read_header_bits(five, position, 32), 0x80000001u);
    try {
        position = 0;
        read_header_bits(five, position, 33);
        FAIL() << "33 bits accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "truncated AC-3 header");
    }
}

}  // namespace
}  // namespace oskavi
