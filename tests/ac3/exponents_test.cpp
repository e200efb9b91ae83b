#include "ac3/exponents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace oskavi {
namespace {

using Exponents = std::vector<uint8_t>;

std::string error_of(const Exponents& e, uint8_t strategy, uint32_t n) {
    try {
        prepare_exponent_set(e, strategy, n);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

uint8_t raw_exponent_of(double coefficient) {
    Coefficients c{};
    c[17] = coefficient;
    return raw_exponents(c)[17];
}

// Bins per group of an exponent step, as a decoder reads the strategy.
uint32_t step_size(uint8_t strategy) { return strategy == kExpD15 ? 1 : (strategy == kExpD25 ? 2 : 4); }

// What an A/52 decoder rebuilds: the absolute exponent, then three
// differences (each offset by 2) per 7-bit group code, each reduced exponent
// repeated over its step of bins. Bins at or beyond n are dropped.
std::vector<int> decode_like_a52(const ExponentSet& set, uint32_t n) {
    const uint32_t g = step_size(set.strategy);
    std::vector<int> decoded(n, -1);
    int exponent = set.absolute_exponent;
    decoded[0] = exponent;
    uint32_t bin = 1;
    for (uint32_t j = 0; j < set.group_count; ++j) {
        const int code = set.group_codes[j];
        for (int delta : {code / 25 - 2, (code % 25) / 5 - 2, code % 5 - 2}) {
            exponent += delta;
            for (uint32_t i = 0; i < g; ++i, ++bin) {
                if (bin < n) decoded[bin] = exponent;
            }
        }
    }
    return decoded;
}

TEST(RawExponents, FollowTheBinaryExponentOfEachCoefficient) {
    EXPECT_EQ(raw_exponent_of(0.5), 0);
    EXPECT_EQ(raw_exponent_of(-0.5), 0);
    EXPECT_EQ(raw_exponent_of(1.0), 0);
    EXPECT_EQ(raw_exponent_of(1000.0), 0);
    EXPECT_EQ(raw_exponent_of(std::nextafter(0.5, 0.0)), 1);
    EXPECT_EQ(raw_exponent_of(0.3), 1);
    EXPECT_EQ(raw_exponent_of(-0.2), 2);
    EXPECT_EQ(raw_exponent_of(std::ldexp(1.0, -24)), 23);
    EXPECT_EQ(raw_exponent_of(std::ldexp(1.0, -25)), 24);
    EXPECT_EQ(raw_exponent_of(1e-200), 24);
    EXPECT_EQ(raw_exponent_of(DBL_MIN), 24);
    EXPECT_EQ(raw_exponent_of(std::numeric_limits<double>::denorm_min()), 24);
    EXPECT_EQ(raw_exponent_of(0.0), 24);
    EXPECT_EQ(raw_exponent_of(-0.0), 24);

    // Every exponent e below 24 brackets its coefficient: 2^-(e+1) <= |X| < 2^-e.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> log_magnitude(-30.0, 2.0);
    Coefficients c{};
    for (double& x : c) x = (rng() & 1 ? -1.0 : 1.0) * std::exp2(log_magnitude(rng));
    const RawExponents e = raw_exponents(c);
    for (std::size_t k = 0; k < c.size(); ++k) {
        const double magnitude = std::fabs(c[k]);
        if (e[k] == 0) {
            EXPECT_GE(magnitude, 0.5) << k;
        } else if (e[k] == 24) {
            EXPECT_LT(magnitude, std::ldexp(1.0, -24)) << k;
        } else {
            EXPECT_GE(magnitude, std::ldexp(1.0, -(e[k] + 1))) << k;
            EXPECT_LT(magnitude, std::ldexp(1.0, -e[k])) << k;
        }
    }
}

TEST(ExponentSet, GroupCountsFollowTheStrategy) {
    const Exponents e(256, 10);
    EXPECT_EQ(prepare_exponent_set(e, kExpD15, 73).group_count, 24);
    EXPECT_EQ(prepare_exponent_set(e, kExpD25, 73).group_count, 12);
    EXPECT_EQ(prepare_exponent_set(e, kExpD45, 73).group_count, 6);
    EXPECT_EQ(prepare_exponent_set(e, kExpD15, 253).group_count, 84);
    EXPECT_EQ(prepare_exponent_set(e, kExpD15, 7).group_count, 2);
    const ExponentSet set = prepare_exponent_set(e, kExpD25, 73);
    EXPECT_EQ(set.strategy, kExpD25);
    EXPECT_EQ(set.bin_count, 73);
    EXPECT_EQ(set.exponents[72], 10);
    EXPECT_EQ(set.exponents[73], 24);  // beyond the coded bins
}

TEST(ExponentSet, SlewLimitLowersExponentsToTwoStepsFromTheirNeighbours) {
    Exponents e(256, 0);
    e[1] = 24;
    const ExponentSet set = prepare_exponent_set(e, kExpD15, 73);
    EXPECT_EQ(set.exponents[0], 0);
    EXPECT_EQ(set.exponents[1], 2);
    EXPECT_EQ(set.exponents[2], 0);
    EXPECT_EQ(set.group_codes[0], 25 * 4 + 5 * 0 + 2);  // +2, -2, 0
}

TEST(ExponentSet, FirstExponentIsCappedAtFifteenAndTheSlewStartsThere) {
    Exponents e(256, 24);
    e[0] = 20;
    const ExponentSet set = prepare_exponent_set(e, kExpD15, 73);
    EXPECT_EQ(set.absolute_exponent, 15);
    const std::vector<int> want{15, 17, 19, 21, 23, 24, 24};
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_EQ(set.exponents[k], want[k]) << k;
}

TEST(ExponentSet, StepTakesTheSmallestExponentOfItsBins) {
    Exponents e(256, 12);
    e[5] = 11;  // D45 step 1 covers bins 5..8
    e[8] = 9;
    const ExponentSet set = prepare_exponent_set(e, kExpD45, 121);
    for (uint32_t k = 5; k <= 8; ++k) EXPECT_EQ(set.exponents[k], 9) << k;
    EXPECT_EQ(set.exponents[1], 11);  // pulled down by the slew limit towards 9
    EXPECT_EQ(set.exponents[4], 11);
}

TEST(ExponentSet, RejectsBadArgumentsWithTheirMessages) {
    const Exponents e(256, 5);
    EXPECT_EQ(error_of(e, kExpReuse, 73), "cannot prepare a reuse exponent set");
    EXPECT_EQ(error_of(e, kExpReuse, 0), "cannot prepare a reuse exponent set");
    EXPECT_EQ(error_of(e, kExpD15, 0), "invalid exponent coefficient count");
    EXPECT_EQ(error_of(Exponents(50, 5), kExpD25, 51), "invalid exponent coefficient count");
    EXPECT_EQ(error_of(e, 4, 73), "reuse is not a transmitted exponent set");
    EXPECT_EQ(error_of(e, 4, 0), "invalid exponent coefficient count");
    EXPECT_EQ(error_of(e, kExpD45, 253), "no error");
}

// Exponents whose steps already move by at most two pass through D15 unchanged.
TEST(ExponentSet, SmoothD15ExponentsAreCodedLosslessly) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> step(-2, 2);
    Exponents e(256);
    int value = 14;  // within the 4-bit absolute exponent
    for (uint8_t& x : e) {
        x = static_cast<uint8_t>(value);
        value = std::clamp(value + step(rng), 0, 24);
    }
    const ExponentSet set = prepare_exponent_set(e, kExpD15, 253);
    for (std::size_t k = 0; k < 253; ++k) EXPECT_EQ(set.exponents[k], e[k]) << k;
}

TEST(ExponentSet, DecoderRebuildsTheCodedExponentsForEveryStrategyAndWidth) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> any_exponent(0, 24);
    std::uniform_int_distribution<int> walk(-4, 4);
    for (int trial = 0; trial < 6; ++trial) {
        // Alternate uniformly random exponents with a rough random walk.
        Exponents e(256);
        int value = any_exponent(rng);
        for (uint8_t& x : e) {
            value = trial % 2 == 0 ? any_exponent(rng) : std::clamp(value + walk(rng), 0, 24);
            x = static_cast<uint8_t>(value);
        }
        for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
            const uint32_t g = step_size(strategy);
            for (uint32_t n = 1; n <= 253; ++n) {
                const ExponentSet set = prepare_exponent_set(e, strategy, n);
                ASSERT_LE(set.absolute_exponent, 15);
                const std::vector<int> decoded = decode_like_a52(set, n);
                const uint32_t covered = std::min(n, 3u * set.group_count * g + 1);
                for (uint32_t k = 0; k < covered; ++k) {
                    ASSERT_EQ(decoded[k], set.exponents[k]) << "strategy " << int(strategy) << " n " << n << " bin " << k;
                    ASSERT_GE(decoded[k], 0);
                    // Never quieter than the bin's own exponent: mantissas cannot overflow.
                    ASSERT_LE(decoded[k], e[k]) << "bin " << k;
                }
                for (uint32_t j = 0; j < set.group_count; ++j) ASSERT_LT(set.group_codes[j], 125);
            }
        }
    }
}

}  // namespace
}  // namespace oskavi
