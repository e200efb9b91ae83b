// Writing the bit stream, read back bit by bit: fields packed most
// significant bit first (and only counted in counting mode), and the CRC check
// words against a straight bit-serial CRC.

#include "bitstream/bit_writer.h"
#include "bitstream/crc.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "bitstream/rate_table.h"
#include "tests/support/error_of.h"

namespace oskavi {
namespace {

// Bit p of the bytes, bit 0 being the most significant of byte 0.
unsigned bit_at(const std::vector<uint8_t>& bytes, uint64_t p) { return (bytes[p / 8] >> (7 - p % 8)) & 1u; }

// Random field sequences with runs of zeros: every field reads back
// most-significant bit first from the packed bytes, and counting mode reaches
// the same bit count without storing anything.
TEST(BitWriter, FieldsReadBackAndCountingModeAgrees) {
    std::mt19937 rng(7);
    BitWriter writer(64);
    BitWriter counter(64, true);
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t width = rng() % 33;
        const uint32_t value = i % 50 == 0 ? 0 : width == 32 ? rng() : rng() & ((uint64_t{1} << width) - 1);
        if (value == 0 && width > 0) {
            writer.write_zeros(width + 40);
            counter.write_zeros(width + 40);
            fields.emplace_back(0, width + 40);
            continue;
        }
        writer.write_bits(value, width);
        counter.write_bits(value, width);
        fields.emplace_back(value, width);
    }
    EXPECT_EQ(counter.bit_count, writer.bit_count);
    EXPECT_TRUE(counter.bytes.empty());
    EXPECT_EQ(writer.bytes.size(), (writer.bit_count + 7) / 8);
    uint64_t position = 0;
    for (auto [value, width] : fields) {
        uint64_t read = 0;
        for (uint32_t i = 0; i < width; ++i, ++position) read = (read << 1) | bit_at(writer.bytes, position);
        ASSERT_EQ(read, value) << width;
    }
}

// Runs of fields written at once (both forms, runs of every length up to
// the longest block, from every bit offset) give the bytes and count of
// write_bits field by field, in counting mode too; a field wider than 16 bits
// or a value above its width is refused with nothing written.
TEST(BitWriter, FieldRunsEqualFieldByFieldWrites) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t lead = rng() % 20;
        std::vector<uint32_t> values(trial < 50 ? trial : rng() % 1300);
        std::vector<uint8_t> widths(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            // Half the trials stay at most 14 bits wide, where four fields share a store.
            widths[i] = static_cast<uint8_t>(rng() % (trial % 2 == 0 ? 15 : 17));
            values[i] = static_cast<uint32_t>(rng() & ((1u << widths[i]) - 1));
        }
        std::vector<uint8_t> codes(values.size());
        for (auto& c : codes) c = static_cast<uint8_t>(rng() % 128);
        for (const bool counting : {false, true}) {
            BitWriter expected(0, counting);
            BitWriter written(0, counting);
            expected.write_bits(0x5A5A5 & ((1u << lead) - 1), lead);
            written.write_bits(0x5A5A5 & ((1u << lead) - 1), lead);
            for (std::size_t i = 0; i < values.size(); ++i) expected.write_bits(values[i], widths[i]);
            for (const uint8_t code : codes) expected.write_bits(code, 7);
            written.write_fields(values, widths);
            written.write_fields(codes, 7);
            ASSERT_EQ(written.bit_count, expected.bit_count) << trial;
            ASSERT_EQ(written.bytes, expected.bytes) << trial;
        }
    }
    for (const bool counting : {false, true}) {
        BitWriter writer(0, counting);
        writer.write_bits(5, 3);
        const std::vector<uint8_t> before = writer.bytes;
        const std::vector<uint32_t> values{1, 2, 8, 3};
        EXPECT_EQ(test::error_of([&] { writer.write_fields(values, std::vector<uint8_t>{1, 2, 3, 2}); }),
                  "BitWriter value does not fit field");
        EXPECT_EQ(test::error_of([&] { writer.write_fields(values, std::vector<uint8_t>{1, 2, 17, 2}); }),
                  "BitWriter value does not fit field");
        EXPECT_EQ(test::error_of([&] { writer.write_fields(std::vector<uint8_t>{1, 200}, 7); }),
                  "BitWriter value does not fit field");
        EXPECT_EQ(test::error_of([&] { writer.write_fields(values, std::vector<uint8_t>{1, 2}); }),
                  "BitWriter field count mismatch");
        // One value too wide for its field anywhere in a longer run (the
        // fields are checked eight at a time where the processor allows).
        for (std::size_t bad = 0; bad < 21; ++bad) {
            std::vector<uint32_t> many(21, 3);
            std::vector<uint8_t> wide(21, 2);
            many[bad] = 4;
            EXPECT_EQ(test::error_of([&] { writer.write_fields(many, wide); }), "BitWriter value does not fit field")
                << bad;
            // A field wider than 16 bits anywhere, its value fitting.
            std::vector<uint8_t> too_wide(21, 2);
            too_wide[bad] = 17;
            EXPECT_EQ(test::error_of([&] { writer.write_fields(std::vector<uint32_t>(21, 1), too_wide); }),
                      "BitWriter value does not fit field")
                << bad;
        }
        EXPECT_EQ(writer.bit_count, 3u);
        EXPECT_EQ(writer.bytes, before);
    }
    // One 16-bit field anywhere among 14-bit ones: the run is packed as the
    // widest field needs.
    for (std::size_t at = 0; at < 21; ++at) {
        std::vector<uint32_t> values(21, 0x3FFF);
        std::vector<uint8_t> widths(21, 14);
        values[at] = 0xFFFF;
        widths[at] = 16;
        BitWriter expected(0, false);
        BitWriter written(0, false);
        for (std::size_t i = 0; i < values.size(); ++i) expected.write_bits(values[i], widths[i]);
        written.write_fields(values, widths);
        EXPECT_EQ(written.bytes, expected.bytes) << at;
    }
}

// Straight bit-serial CRC-16 (0x8005, MSB first) used as the reference.
uint16_t reference_crc(const std::vector<uint8_t>& bytes, uint64_t start, uint64_t count) {
    uint16_t c = 0;
    for (uint64_t p = start; p < start + count; ++p)
        c = static_cast<uint16_t>(bit_at(bytes, p) == (c >> 15u) ? (c << 1) : ((c << 1) ^ 0x8005));
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
        EXPECT_EQ(reference_crc(frame, 16, words * 16 - 16), 0) << kAc3Bitrates[i];  // crc2's whole region
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
