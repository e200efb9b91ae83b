// Header parsing of the AC-3 syncinfo and BSI start, on headers packed with
// the project's BitWriter. Rates, sizes and refusals are exercised on real
// streams through --verify (verify_test.cpp).

#include "bitstream/frame_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "bitstream/bit_writer.h"

namespace oskavi {
namespace {

// A 16-byte header of a 448 kbit/s frame in A/52 field order, with bsid 6,
// bsmod 5, LFE on and dialnorm code `dialnorm`.
std::vector<uint8_t> pack_header(uint32_t acmod, uint32_t dialnorm = 9) {
    BitWriter w;
    w.write_bits(0x0B77, 16);
    w.write_bits(0xABCD, 16);  // crc1: not interpreted by the parser
    w.write_bits(0, 2);        // fscod 48 kHz
    w.write_bits(30, 6);
    w.write_bits(6, 5);
    w.write_bits(5, 3);
    w.write_bits(acmod, 3);
    // cmixlev, surmixlev and dsurmod where present, all 3 so a misplaced read shows.
    if ((acmod & 1) && acmod != 1) w.write_bits(3, 2);
    if (acmod & 4) w.write_bits(3, 2);
    if (acmod == 2) w.write_bits(3, 2);
    w.write_bits(1, 1);
    w.write_bits(dialnorm, 5);
    std::vector<uint8_t> bytes = w.bytes;
    bytes.resize(16, 0);
    return bytes;
}

TEST(FrameHeader, EveryAcmodReadsItsOptionalFieldsInPlace) {
    for (uint32_t acmod = 0; acmod < 8; ++acmod) {
        const Ac3FrameHeader h = parse_frame_header(pack_header(acmod));
        ASSERT_TRUE(h.valid) << acmod << h.error;
        EXPECT_EQ(h.sample_rate, 48000u);
        EXPECT_EQ(h.bsid, 6);
        EXPECT_EQ(h.bsmod, 5);
        EXPECT_EQ(h.acmod, acmod);
        EXPECT_TRUE(h.lfeon);
        EXPECT_EQ(h.dialnorm_db, -9) << acmod;
    }
    EXPECT_EQ(parse_frame_header(pack_header(2, 0)).dialnorm_db, -31);  // code 0 means -31 dB
}

}  // namespace
}  // namespace oskavi
