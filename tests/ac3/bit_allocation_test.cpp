// The parametric bit allocation and the mantissa payload it implies, counted
// three ways: count_mantissa_bits over baps, the tally of a mask, and the
// baps derived from a reused mask; and that payload as write_mantissas packs it.

#include "ac3/bit_allocation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ac3/bit_allocation_tables.h"
#include "ac3/exponents.h"
#include "ac3/mantissa_quantiser.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {
namespace {

// For every SNR offset pair, over random spectra of all three range kinds:
// baps derived from a reused mask equal a fresh allocation, the tally of the
// mask (from the mask or straight from the exponents) counts the bits of
// those baps, and baps_into writes them.
TEST(BitAllocation, MaskReuseAndTalliesAgreeWithDirectAllocation) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<uint8_t> exps(256);
        int e = static_cast<int>(rng() % 25);
        for (auto& x : exps) {  // smooth with occasional jumps, or uniformly random
            e = std::clamp(e + static_cast<int>(rng() % 5) - 2, 0, 24);
            x = static_cast<uint8_t>(trial % 2 == 0 ? e : rng() % 25);
        }
        const uint32_t end = 73 + 3 * static_cast<uint32_t>(rng() % 61);
        const auto fleak = static_cast<uint8_t>(rng() % 8), sleak = static_cast<uint8_t>(rng() % 8);
        const auto fbw = std::span(exps).first(end), lfe = std::span(exps).first(7), cpl = std::span(exps).first(217);
        const BinExponents row(exps.data(), kBinsPerBlock);
        const struct {
            BitAllocationMask mask;
            std::function<BapVector(const BitAllocParams&)> direct;
        } ranges[] = {
            {compute_allocation_mask(fbw, 0, end, {}), [&](auto& p) { return allocate_bits(fbw, 0, end, p); }},
            {compute_allocation_mask(lfe, 0, 7, {}), [&](auto& p) { return allocate_bits(lfe, 0, 7, p); }},
            {compute_coupling_allocation_mask(cpl, 109, 217, {}, fleak, sleak),
             [&](auto& p) { return allocate_coupling_bits(cpl, 109, 217, p, fleak, sleak); }},
        };
        for (const auto& range : ranges) {
            const BitAllocationMask& m = range.mask;
            for (uint8_t fs = 0; fs <= 15; ++fs) {
                for (uint8_t cs = 0; cs <= 63; ++cs) {
                    const BapVector baps = baps_from_mask(m, cs, fs);
                    ASSERT_EQ(baps.values, range.direct(BitAllocParams{.csnroffst = cs, .fsnroffst = fs}).values);
                    const uint32_t bits = count_mantissa_bits(std::vector<const BapVector*>{&baps});
                    ASSERT_EQ(tally_bits(tally_mantissas(m, cs, fs)), bits);
                    for (const TallyKernel kernel : {TallyKernel::Fastest, TallyKernel::Plain}) {
                        const MantissaTally tally = tally_mantissas(row, m.mask, m.start, m.end, m.floor, cs, fs, kernel);
                        ASSERT_EQ(tally_bits(tally), bits);
                    }
                    for (const TallyKernel kernel : {TallyKernel::Fastest, TallyKernel::Plain}) {
                        std::vector<uint8_t> written(256, 99);
                        baps_into(written.data(), row, m.mask, m.start, m.end, m.floor, cs, fs, kernel);
                        for (uint32_t bin = m.start; bin < m.end; ++bin) ASSERT_EQ(written[bin], baps.values[bin]);
                        // Nothing outside the range is touched.
                        ASSERT_EQ(written[m.end], 99);
                        if (m.start > 0) {
                            ASSERT_EQ(written[m.start - 1], 99);
                        }
                    }
                }
            }
        }
    }
}

// Exponents above 24, which no decoder holds, are still counted as the
// allocation defines them (the vector kernels take rows up to 24 only): at
// the lowest floor and the highest SNR offset a quiet band's base is 160,
// where an exponent of 38 finds address 8 (bap 3), not 7 (bap 2).
TEST(BitAllocation, TallyOfExponentsAboveTwentyFour) {
    std::array<uint8_t, kBinsPerBlock> exps{};
    for (std::size_t bin = 0; bin < exps.size(); ++bin) exps[bin] = static_cast<uint8_t>(bin % 7 == 0 ? 38 : 24);
    for (const uint8_t floorcod : {uint8_t{4}, uint8_t{7}}) {
        const BitAllocParams params{.floorcod = floorcod};
        const BitAllocationMask m = compute_allocation_mask(std::span(exps).first(253), 0, 253, params);
        for (const uint8_t cs : {uint8_t{5}, uint8_t{30}, uint8_t{63}}) {
            const BapVector baps = baps_from_mask(m, cs, 15);
            const MantissaTally tally = tally_mantissas(exps, m.mask, 0, 253, m.floor, cs, 15);
            ASSERT_EQ(tally_bits(tally), count_mantissa_bits(std::vector<const BapVector*>{&baps}));
            std::array<uint8_t, kBinsPerBlock> written{};
            baps_into(written.data(), exps, m.mask, 0, 253, m.floor, cs, 15);
            ASSERT_TRUE(std::equal(written.begin(), written.begin() + 253, baps.values.begin()));
        }
    }
}

// Over random spectra shaped into D15, D25 and D45 sets: the band masks alone
// equal those of the full mask, shape_exponents gives the set's exponents and
// group count, and the step-wise tally equals the bin-by-bin one at every
// SNR offset pair.
TEST(BitAllocation, ShapedSetsTallyStepByStepAsBinByBin) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 24; ++trial) {
        std::vector<uint8_t> raw(256);
        for (auto& x : raw) x = static_cast<uint8_t>(rng() % 25);
        // A few LFE-sized ranges, then full-bandwidth ones.
        const uint32_t end = trial < 3 ? 7 + 3 * static_cast<uint32_t>(trial) : 37 + static_cast<uint32_t>(rng() % 217);
        for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
            const ExponentSet set = prepare_exponent_set(std::span(raw).first(end), strategy, end);
            std::array<uint8_t, kBinsPerBlock> shaped;
            ASSERT_EQ(shape_exponents(std::span(raw).first(end), strategy, end, shaped), set.group_count);
            ASSERT_EQ(shaped, set.exponents);
            const auto coded = std::span<const uint8_t>(set.exponents.data(), end);
            const BitAllocationMask m = compute_allocation_mask(coded, 0, end, {});
            const uint32_t group_size = strategy == kExpD15 ? 1 : strategy == kExpD25 ? 2 : 4;
            std::array<int32_t, 50> band_mask;
            ASSERT_EQ(compute_stepped_band_mask(coded, group_size, end, {}, band_mask), m.floor);
            const int bands = a52::masktab[end - 1] + 1;
            ASSERT_TRUE(std::equal(band_mask.begin(), band_mask.begin() + bands, m.mask.begin()));
            for (uint8_t fs = 0; fs <= 15; ++fs) {
                for (uint8_t cs = 0; cs <= 63; ++cs) {
                    const MantissaTally plain = tally_mantissas(m, cs, fs);
                    const MantissaTally stepped =
                        tally_stepped_mantissas(set.exponents, group_size, band_mask, end, m.floor, cs, fs);
                    const MantissaTally stepped_plain = tally_stepped_mantissas(
                        set.exponents, group_size, band_mask, end, m.floor, cs, fs, TallyKernel::Plain);
                    for (const MantissaTally& t : {stepped, stepped_plain}) {
                        ASSERT_TRUE(t.bap1 == plain.bap1 && t.bap2 == plain.bap2 && t.bap4 == plain.bap4 &&
                                    t.bits == plain.bits)
                            << int{strategy} << " " << int{cs} << " " << int{fs} << " " << end;
                    }
                }
            }
        }
    }
}

constexpr uint32_t kLevels[6] = {0, 3, 5, 7, 11, 15};

// Normalised value that a symmetric quantiser of L levels reconstructs for k.
double level(uint32_t levels, uint32_t k) { return (2.0 * k - (levels - 1.0)) / levels; }

uint32_t bits_at(const std::vector<uint8_t>& bytes, uint32_t pos, uint32_t width) {
    uint32_t v = 0;
    for (uint32_t p = pos; p < pos + width; ++p) v = (v << 1) | ((bytes.at(p / 8) >> (7 - p % 8)) & 1u);
    return v;
}

// One channel record over its own vectors: level codes for bap 1..5.
struct Channel {
    std::vector<double> coefficients;
    std::vector<uint8_t> exponents, baps;

    Channel& add(uint8_t bap, uint32_t code) {
        baps.push_back(bap);
        exponents.push_back(0);
        coefficients.push_back(bap >= 1 && bap <= 5 ? level(kLevels[bap], code) : 0.0);
        return *this;
    }
    ChannelMantissas record() const { return {coefficients, exponents, baps}; }
};

BitWriter write(const Channel& channel) {
    const ChannelMantissas records[] = {channel.record()};
    BitWriter writer;
    write_mantissas(writer, records);
    return writer;
}

TEST(WriteMantissas, GroupsAreWrittenAtTheirFirstMemberAndCompletedWithZeroCodes) {
    Channel ch;
    ch.add(1, 0).add(1, 2).add(3, 6).add(1, 1).add(0, 0).add(1, 2);  // fourth bap 1 opens a second group
    const BitWriter w = write(ch);
    ASSERT_EQ(w.bit_count, 5u + 3u + 5u);
    EXPECT_EQ(bits_at(w.bytes, 0, 5), 7u);   // 9 * 0 + 3 * 2 + 1
    EXPECT_EQ(bits_at(w.bytes, 5, 3), 6u);   // ungrouped bap 3
    EXPECT_EQ(bits_at(w.bytes, 8, 5), 22u);  // 9 * 2 + 3 * 1 + 1: completed by two zero codes
    BapVector baps;
    for (uint8_t b : ch.baps) baps.values[baps.size++] = b;
    EXPECT_EQ(count_mantissa_bits(std::vector<const BapVector*>{&baps}), w.bit_count);

    const BitWriter four = write(Channel().add(4, 3));
    ASSERT_EQ(four.bit_count, 7u);
    EXPECT_EQ(bits_at(four.bytes, 0, 7), 38u);  // 11 * 3 + 5
    const BitWriter two = write(Channel().add(2, 4));
    ASSERT_EQ(two.bit_count, 7u);
    EXPECT_EQ(bits_at(two.bytes, 0, 7), 112u);  // 25 * 4 + 5 * 2 + 2
}

// Whole blocks of random mantissas (every bap, runs long enough for the
// vector paths, one to five channels, the writer not on a byte boundary)
// against fields laid out one by one: a group of three bap 1 codes
// (9a + 3b + c in 5 bits), three bap 2 codes (25a + 5b + c in 7 bits) or two
// bap 4 codes (11a + b in 7 bits) goes where its first member stands, and an
// incomplete group at the block's end is completed with the zero code.
TEST(WriteMantissas, RandomBlocksMatchFieldByFieldLayout) {
    std::mt19937 rng(77);
    struct Group {
        uint32_t members, radix, zero;
    };
    const std::array<Group, 5> groups{{{}, {3, 3, 1}, {3, 5, 2}, {}, {2, 11, 5}}};
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Channel> channels(1 + rng() % 5);
        for (Channel& c : channels) {
            const std::size_t n = rng() % 254;
            for (std::size_t i = 0; i < n; ++i) {
                c.baps.push_back(static_cast<uint8_t>(trial % 2 == 0 ? rng() % 16 : rng() % 6));
                c.exponents.push_back(static_cast<uint8_t>(rng() % 25));
                c.coefficients.push_back(std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(rng),
                                                    -c.exponents.back()));
            }
        }
        struct Field {
            uint32_t value, width;
        };
        std::vector<Field> fields;
        std::array<std::size_t, 5> open_at{};
        std::array<uint32_t, 5> open_count{};
        for (const Channel& c : channels) {
            for (std::size_t i = 0; i < c.baps.size(); ++i) {
                const uint8_t bap = c.baps[i];
                const uint32_t code = quantise_mantissa(c.coefficients[i], c.exponents[i], bap);
                if (bap != 1 && bap != 2 && bap != 4) {
                    if (bap != 0) fields.push_back({code, mantissa_width(bap)});
                    continue;
                }
                if (open_count[bap] == 0) {
                    open_at[bap] = fields.size();
                    fields.push_back({0, bap == 1 ? 5u : 7u});
                }
                fields[open_at[bap]].value = fields[open_at[bap]].value * groups[bap].radix + code;
                if (++open_count[bap] == groups[bap].members) open_count[bap] = 0;
            }
        }
        for (const uint8_t bap : {1, 2, 4}) {
            for (; open_count[bap] != 0 && open_count[bap] < groups[bap].members; ++open_count[bap])
                fields[open_at[bap]].value = fields[open_at[bap]].value * groups[bap].radix + groups[bap].zero;
        }
        BitWriter expected;
        expected.write_bits(5, 3);
        for (const Field& f : fields) {
            for (uint32_t b = f.width; b-- > 0;) expected.write_bits((f.value >> b) & 1, 1);
        }
        std::vector<ChannelMantissas> records;
        for (const Channel& c : channels) records.push_back(c.record());
        BitWriter written;
        written.write_bits(5, 3);
        write_mantissas(written, records);
        ASSERT_EQ(written.bit_count, expected.bit_count) << trial;
        ASSERT_EQ(written.bytes, expected.bytes) << trial;
    }
}

}  // namespace
}  // namespace oskavi
