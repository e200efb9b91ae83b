// The encoder's hot primitives are written for speed (bit fields instead of
// frexp, scans instead of repeated passes, straight-line quantisers, a
// nearest-neighbour search instead of a full scan, side-by-side filters).
// Each is checked here against a direct transcription of its definition on
// many inputs, edge values included; any difference would change the stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "ac3/bit_allocation_tables.h"
#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/mantissa_quantiser.h"
#include "ac3/transient_detector.h"

namespace oskavi {
namespace {

uint8_t exponent_by_frexp(double x) {
    const double magnitude = std::fabs(x);
    if (magnitude <= DBL_MIN) return 24;
    int power = 0;
    std::frexp(magnitude, &power);
    return static_cast<uint8_t>(std::clamp(-power, 0, 24));
}

// prepare_exponent_set's exponents and group codes, step by step as defined,
// with the slew limit repeated until a pass changes nothing.
ExponentSet exponent_set_by_definition(std::span<const uint8_t> e, uint8_t strategy, uint32_t n) {
    const uint32_t g = strategy == kExpD15 ? 1 : (strategy == kExpD25 ? 2 : 4);
    const uint32_t groups = strategy == kExpD15 ? (n - 1) / 3 : (strategy == kExpD25 ? (n + 2) / 6 : (n + 8) / 12);
    const uint32_t d = 3 * groups;
    std::vector<int> r(d + 1);
    r[0] = std::min<int>(e[0], 15);
    for (uint32_t i = 0; i < d; ++i) {
        r[i + 1] = i * g + 1 >= n ? r[i] : 24;  // steps past the coded bins repeat the last one
        for (uint32_t k = i * g + 1; k < std::min(i * g + g + 1, n); ++k) r[i + 1] = std::min<int>(r[i + 1], e[k]);
    }
    bool changed = true;
    while (changed) {
        changed = false;
        for (uint32_t i = 1; i <= d; ++i)
            if (r[i] > std::min(r[i - 1] + 2, 24)) r[i] = std::min(r[i - 1] + 2, 24), changed = true;
        for (uint32_t i = d; i >= 1; --i)
            if (r[i - 1] > std::min(r[i] + 2, 24)) r[i - 1] = std::min(r[i] + 2, 24), changed = true;
    }
    ExponentSet set;
    set.exponents.fill(24);
    set.exponents[0] = static_cast<uint8_t>(r[0]);
    for (uint32_t i = 0; i < d; ++i)
        for (uint32_t k = i * g + 1; k < std::min(i * g + g + 1, n); ++k) set.exponents[k] = static_cast<uint8_t>(r[i + 1]);
    set.absolute_exponent = static_cast<uint8_t>(r[0]);
    set.group_count = static_cast<uint8_t>(groups);
    for (uint32_t j = 0; j < groups; ++j)
        set.group_codes[j] = static_cast<uint8_t>(25 * (r[3 * j + 1] - r[3 * j] + 2) +
                                                  5 * (r[3 * j + 2] - r[3 * j + 1] + 2) + (r[3 * j + 3] - r[3 * j + 2] + 2));
    return set;
}

// What an A/52 decoder rebuilds: the absolute exponent, then three
// differences (each offset by 2) per 7-bit group code, each reduced exponent
// repeated over its step of bins. Bins at or beyond n are dropped.
std::vector<int> decode_like_a52(const ExponentSet& set, uint32_t n) {
    const uint32_t step = set.strategy == kExpD15 ? 1 : (set.strategy == kExpD25 ? 2 : 4);
    std::vector<int> decoded(n, -1);
    int exponent = set.absolute_exponent;
    decoded[0] = exponent;
    uint32_t bin = 1;
    for (uint32_t j = 0; j < set.group_count; ++j) {
        const int code = set.group_codes[j];
        for (int delta : {code / 25 - 2, (code % 25) / 5 - 2, code % 5 - 2}) {
            exponent += delta;
            for (uint32_t i = 0; i < step; ++i, ++bin)
                if (bin < n) decoded[bin] = exponent;
        }
    }
    return decoded;
}

uint32_t quantise_by_definition(double value, int exponent, uint8_t bap) {
    if (bap == 0) return 0;
    double x = std::ldexp(value, exponent);
    if (std::isnan(x)) x = 0.0;
    x = std::clamp(x, -1.0, std::nextafter(1.0, 0.0));
    if (bap <= 5) {
        const double levels = a52::quant_levels[bap];
        const double code = std::round((x + (levels - 1.0) / levels) / (2.0 / levels));
        return static_cast<uint32_t>(std::clamp(code, 0.0, levels - 1.0));
    }
    const int width = a52::mant_width[bap];
    const double half = std::ldexp(1.0, width - 1);
    const double q = std::clamp(std::floor(x * half), -half, half - 1.0);
    return static_cast<uint32_t>(static_cast<int32_t>(q)) & ((1u << width) - 1u);
}

// Coordinate of cplcoexp index / 16 and cplcomant index % 16 under a master shift.
double coordinate_value(int index, int mstrcplco) {
    const int e = index / 16, k = index % 16;
    return std::ldexp(e == 15 ? k / 16.0 : (k + 16) / 32.0, -(e + 3 * mstrcplco));
}

// Every coordinate of one master shift, scanned in index order for the first
// smallest ((value - target) / scale)^2.
int coordinate_by_scan(double target, int mstrcplco) {
    const double scale = std::max(target, 1e-9);
    double best = std::numeric_limits<double>::infinity();
    int best_index = 0;
    for (int index = 0; index < 256; ++index) {
        const double r = (coordinate_value(index, mstrcplco) - target) / scale;
        if (r * r < best) best = r * r, best_index = index;
    }
    return best_index;
}

TEST(DefinitionEquivalence, RawExponentsMatchFrexpEverywhere) {
    std::vector<double> values = {0.0, -0.0, DBL_MIN, -DBL_MIN, std::nextafter(DBL_MIN, 1.0),
                                  std::numeric_limits<double>::denorm_min(), 0.5, std::nextafter(0.5, 0.0),
                                  1.0, 1e300, std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()};
    for (int p = -1030; p <= 4; ++p) {
        values.push_back(std::ldexp(1.0, p));
        values.push_back(-std::nextafter(std::ldexp(1.0, p), 0.0));
    }
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> log_magnitude(-40.0, 3.0);
    while (values.size() % 256 != 0 || values.size() < 4096)
        values.push_back((rng() & 1 ? -1.0 : 1.0) * std::exp2(log_magnitude(rng)));
    for (std::size_t first = 0; first < values.size(); first += 256) {
        Coefficients c;
        std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(first), 256, c.begin());
        const RawExponents e = raw_exponents(c);
        for (std::size_t k = 0; k < 256; ++k) ASSERT_EQ(e[k], exponent_by_frexp(c[k])) << c[k];
    }
}

TEST(DefinitionEquivalence, ExponentSetsMatchTheRepeatedPassDefinition) {
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 506; ++trial) {
        std::vector<uint8_t> e(256);
        const int mode = (trial / 2) % 4;
        int level = static_cast<int>(rng() % 25);
        for (auto& x : e) {
            level = std::clamp(level + static_cast<int>(rng() % 9) - 4, 0, 24);
            x = static_cast<uint8_t>(mode == 0 ? rng() % 25 : (mode == 1 ? level : (rng() % 6 == 0 ? 24 : rng() % 4)));
        }
        if (mode == 3) e[0] = 22;  // capped at 15 before the slew starts
        // Every width 1..253 once, and as many on the grid of full-bandwidth channels.
        const uint32_t n = trial % 2 == 0 ? 1 + trial / 2 : 73 + 3 * static_cast<uint32_t>(rng() % 61);
        for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
            const ExponentSet fast = prepare_exponent_set(e, strategy, n);
            const ExponentSet slow = exponent_set_by_definition(e, strategy, n);
            SCOPED_TRACE(std::to_string(trial) + " strategy " + std::to_string(strategy) + " n " + std::to_string(n));
            ASSERT_EQ(std::tuple(fast.exponents, fast.absolute_exponent, fast.group_count),
                      std::tuple(slow.exponents, slow.absolute_exponent, slow.group_count));
            ASSERT_TRUE(std::equal(fast.group_codes.begin(), fast.group_codes.begin() + fast.group_count,
                                   slow.group_codes.begin()));
            // A decoder reading the codes rebuilds the exponents of every bin
            // the groups cover, none above the bin's own exponent (so no
            // mantissa overflows).
            const std::vector<int> decoded = decode_like_a52(fast, n);
            const uint32_t step = strategy == kExpD15 ? 1 : (strategy == kExpD25 ? 2 : 4);
            for (uint32_t k = 0; k < std::min(n, 3 * step * fast.group_count + 1); ++k) {
                ASSERT_EQ(decoded[k], fast.exponents[k]) << k;
                ASSERT_LE(decoded[k], e[k]) << k;
            }
        }
    }
}

// One mantissa at a time, and in runs through both the dispatched (AVX2
// where present) and the plain run quantiser, with bap 0 among them.
TEST(DefinitionEquivalence, QuantiserMatchesLdexpRoundAndFloor) {
    std::mt19937_64 rng(8);
    std::uniform_real_distribution<double> unit(-1.3, 1.3);
    std::vector<double> values;
    std::vector<uint8_t> exponents, baps;
    std::vector<uint32_t> expected;
    for (int i = 0; i < 200000; ++i) {
        const int exponent = static_cast<int>(rng() % 25);
        // Runs of four symmetric baps, of four two's-complement ones, and of
        // any: the vector quantiser takes its own path for each.
        const int kind = (i / 4) % 3;
        const auto bap = static_cast<uint8_t>(i % 97 == 0 ? 0
                                              : kind == 0 ? 1 + rng() % 5
                                              : kind == 1 ? 6 + rng() % 10
                                                          : 1 + rng() % 15);
        double normalised = unit(rng);
        switch (i % 8) {
            case 0: {  // exactly on a symmetric level or half-way between two
                const double levels = bap <= 5 ? a52::quant_levels[bap] : 3.0;
                normalised = (static_cast<double>(rng() % 40) - 20.0) / levels;
                break;
            }
            case 1: normalised = std::ldexp(static_cast<double>(static_cast<int64_t>(rng() % 131072) - 65536), -16); break;
            case 2: normalised = (rng() & 1) ? -0.0 : 0.0; break;
            case 3: normalised = (rng() & 1) ? 1.0 : -1.0; break;
            default: break;
        }
        const double value = std::ldexp(normalised, -exponent);
        const uint32_t defined = bap == 0 ? 0 : quantise_by_definition(value, exponent, bap);
        if (bap != 0) {
            ASSERT_EQ(quantise_mantissa(value, exponent, bap), defined)
                << value << " e " << exponent << " bap " << int(bap);
        }
        values.push_back(value);
        exponents.push_back(static_cast<uint8_t>(exponent));
        baps.push_back(bap);
        expected.push_back(defined);
    }
    values.push_back(std::numeric_limits<double>::quiet_NaN());
    exponents.push_back(3);
    baps.push_back(7);
    expected.push_back(quantise_by_definition(values.back(), 3, 7));
    std::vector<uint32_t> codes(values.size(), 99), plain_codes(values.size(), 99);
    quantise_mantissas(values, exponents, baps, codes);
    quantise_mantissas_plain(values, exponents, baps, plain_codes);
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(codes[i], expected[i]) << values[i] << " e " << int(exponents[i]) << " bap " << int(baps[i]);
        ASSERT_EQ(plain_codes[i], expected[i]) << i;
    }
    baps[5] = 16;
    EXPECT_THROW(quantise_mantissas(values, exponents, baps, codes), std::runtime_error);
    // NaN, huge values and exponents outside 0..24 (ldexp applies as it is).
    for (auto [value, exponent] : {std::pair{std::numeric_limits<double>::quiet_NaN(), 3}, {1e300, 24}, {0.75, 30}, {0.75, -2}}) {
        for (uint8_t bap = 1; bap <= 15; ++bap)
            EXPECT_EQ(quantise_mantissa(value, exponent, bap), quantise_by_definition(value, exponent, bap)) << value;
    }
}

TEST(DefinitionEquivalence, CouplingCoordinatesMatchTheFullScan) {
    std::vector<double> candidates;
    for (int index = 0; index < 4 * 256; ++index) candidates.push_back(coordinate_value(index % 256, index / 256));
    std::mt19937_64 rng(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        std::vector<double> targets(1 + rng() % 9);
        for (double& t : targets) {
            const double a = candidates[rng() % candidates.size()], b = candidates[rng() % candidates.size()];
            switch (rng() % 5) {
                case 0: t = a; break;                                          // exactly representable
                case 1: t = (a + b) / 2.0; break;                              // half-way between two
                case 2: t = std::nextafter(a, (rng() & 1) ? 2.0 : -1.0); break;  // just beside one
                case 3: t = std::exp2(-30.0 * unit(rng)); break;
                default: t = unit(rng) * ((rng() & 1) ? 1.2 : 1e-6); break;
            }
        }
        const ChannelCouplingCoordinates q = quantise_coupling_coordinates(targets);
        ASSERT_EQ(q.bands.size(), targets.size());
        for (std::size_t b = 0; b < targets.size(); ++b) {
            const int index = coordinate_by_scan(std::clamp(targets[b], 0.0, 0.96875), q.mstrcplco);
            ASSERT_EQ(q.bands[b].cplcoexp, index / 16) << targets[b];
            ASSERT_EQ(q.bands[b].cplcomant, index % 16) << targets[b];
        }
    }
}

TEST(DefinitionEquivalence, BatchedTransientDetectionMatchesOneByOne) {
    std::mt19937_64 rng(4);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::array<double, 512>> blocks(11);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const double onset = 0.5 + 0.04 * static_cast<double>(b);
        for (std::size_t n = 0; n < 512; ++n) {
            const double t = static_cast<double>(n) / 512.0;
            const double burst = b % 2 == 1 && t > onset ? 0.3 * noise(rng) : 0.0;  // odd blocks only
            blocks[b][n] = 0.1 * std::sin(0.05 * static_cast<double>(n * (b + 1))) + 0.002 * noise(rng) + burst;
        }
    }
    blocks[10].fill(0.0);
    int switched = 0;
    for (const auto& block : blocks) switched += detect_transient(block) ? 1 : 0;
    EXPECT_GT(switched, 2);
    EXPECT_LT(switched, 9);
    // Every batch size up to a 5.1 frame's 30 inputs, so that the twelve-,
    // eight-, four-, two- and one-at-a-time paths all meet every block.
    for (std::size_t count = 1; count <= 30; ++count) {
        std::vector<TransientInput> inputs;
        for (std::size_t b = 0; b < count; ++b) inputs.emplace_back(blocks[(b + count) % blocks.size()]);
        std::array<bool, 32> flags{};
        std::array<bool, 32> plain_flags{};
        detect_transients(inputs, std::span<bool>(flags.data(), count));
        detect_transients_plain(inputs, std::span<bool>(plain_flags.data(), count));
        for (std::size_t b = 0; b < count; ++b) {
            ASSERT_EQ(flags[b], detect_transient(inputs[b])) << count << " " << b;
            ASSERT_EQ(plain_flags[b], flags[b]) << count << " " << b;
        }
    }
}

}  // namespace
}  // namespace oskavi
