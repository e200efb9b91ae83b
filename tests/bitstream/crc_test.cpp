#include "bitstream/crc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bitstream/rate_table.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

// Straight bit-serial CRC-16 (0x8005, MSB first) used as the reference.
uint16_t reference_crc(const std::vector<uint8_t>& bytes, uint64_t start, uint64_t count) {
    uint16_t c = 0;
    for (uint64_t p = start; p < start + count; ++p) {
        const unsigned bit = (bytes[p / 8] >> (7 - p % 8)) & 1u;
        c = static_cast<uint16_t>(bit == (c >> 15u) ? (c << 1) : ((c << 1) ^ 0x8005));
    }
    return c;
}

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

TEST(CrcPatch, BothFrameRegionsCheckAtEveryRate) {
    for (uint32_t i = 0; i < kAc3Bitrates.size(); ++i) {
        const uint32_t words = kAc3FrameWords[i];
        auto frame = random_bytes(words * 2, 100 + i);
        patch_frame_crcs(frame, words);
        const uint32_t bits_5_8 = ((words >> 1) + (words >> 3)) * 16;
        EXPECT_EQ(reference_crc(frame, 16, bits_5_8 - 16), 0) << kAc3Bitrates[i];
        EXPECT_EQ(reference_crc(frame, bits_5_8, words * 16 - bits_5_8), 0) << kAc3Bitrates[i];
        auto again = frame;
        patch_frame_crcs(again, words);
        EXPECT_EQ(again, frame);  // the field is cleared before the syndrome is taken
    }
}

TEST(CrcPatch, FieldAnywhereInsideTheRegionAndNothingOutside) {
    auto bytes = random_bytes(40, 9);
    for (uint32_t field : {24u, 37u, 300u}) {
        crc_patch(bytes, field, 20, 300);
        EXPECT_EQ(reference_crc(bytes, 20, 300), 0) << field;
    }
    const auto original = bytes;
    for (const auto& [field, start, length] : {std::tuple{310u, 20u, 296u},  // field ends past the region
                                              std::tuple{16u, 16u, 400u},   // region ends past the bytes
                                              std::tuple{8u, 16u, 64u}}) {  // field starts before the region
        EXPECT_EQ(test::error_of([&] { crc_patch(bytes, field, start, length); }),
                  "CRC patch field/region out of range");
        EXPECT_EQ(bytes, original);
    }
}

}  // namespace
}  // namespace oskavi
