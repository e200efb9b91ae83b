#include "bitstream/crc.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "bitstream/rate_table.h"

namespace oskavi {
namespace {

// Straight bit-serial CRC-16 (0x8005, MSB first) used as the reference.
uint16_t reference_crc(const std::vector<uint8_t>& bytes, uint64_t start, uint64_t count) {
    uint16_t c = 0;
    for (uint64_t p = start; p < start + count; ++p) {
        const unsigned bit = (bytes[p / 8] >> (7 - p % 8)) & 1u;
        const unsigned top = c >> 15;
        c = static_cast<uint16_t>(bit == top ? (c << 1) : ((c << 1) ^ 0x8005));
    }
    return c;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

TEST(Crc16, MatchesBitSerialReferenceAtAnyAlignment) {
    const auto bytes = random_bytes(64, 3);
    for (uint64_t start : {0, 1, 5, 8, 13, 16}) {
        for (uint64_t count : {0, 1, 7, 8, 9, 100, 300}) {
            EXPECT_EQ(crc16(bytes, start, count, 0), reference_crc(bytes, start, count))
                << start << " " << count;
        }
    }
    EXPECT_EQ(crc16(bytes, 3, 0, 0x1234), 0x1234);
}

TEST(CrcPatch, BothFrameRegionsCheckAtEveryRate) {
    for (uint32_t i = 0; i < kAc3Bitrates.size(); ++i) {
        const uint32_t words = kAc3FrameWords[i];
        auto frame = random_bytes(words * 2, 100 + i);
        patch_frame_crcs(frame, words);
        const uint32_t w58 = (words >> 1) + (words >> 3);
        EXPECT_EQ(reference_crc(frame, 16, w58 * 16 - 16), 0) << kAc3Bitrates[i];
        EXPECT_EQ(reference_crc(frame, w58 * 16, words * 16 - w58 * 16), 0) << kAc3Bitrates[i];
        auto again = frame;
        patch_frame_crcs(again, words);
        EXPECT_EQ(again, frame);  // the field is cleared before the syndrome is taken
    }
}

TEST(CrcPatch, FieldInsideRegionAtArbitraryOffset) {
    auto bytes = random_bytes(40, 9);
    for (uint32_t field : {24u, 37u, 100u, 300u}) {
        crc_patch(bytes, field, 20, 300);
        EXPECT_EQ(reference_crc(bytes, 20, 300), 0) << field;
    }
}

TEST(CrcPatch, ZeroRegionKeepsZeroField) {
    std::vector<uint8_t> bytes(32, 0);
    crc_patch(bytes, 16, 16, 200);
    for (uint8_t b : bytes) EXPECT_EQ(b, 0);
}

TEST(CrcPatch, OutOfRangeRequestsChangeNothing) {
    const auto original = random_bytes(16, 11);
    auto bytes = original;
    const std::string message = "CRC patch field/region out of range";
    auto expect_rejected = [&](uint32_t field, uint32_t start, uint32_t length) {
        try {
            crc_patch(bytes, field, start, length);
            ADD_FAILURE() << "accepted " << field << " " << start << " " << length;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
        EXPECT_EQ(bytes, original);
    };
    expect_rejected(120, 16, 112);  // field ends past the region
    expect_rejected(16, 16, 200);   // region ends past the bytes
    expect_rejected(8, 16, 64);     // field starts before the region
    EXPECT_THROW(patch_table(100, 110), std::runtime_error);
}

}  // namespace
}  // namespace oskavi
