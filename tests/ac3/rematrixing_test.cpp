#include "ac3/rematrixing.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "ac3/exponents.h"

namespace oskavi {
namespace {

// Deterministic, sign-varying, never-zero coefficients.
Coefficients test_signal(uint32_t seed) {
    Coefficients x{};
    uint32_t state = seed;
    for (double& v : x) {
        state = state * 1664525u + 1013904223u;
        v = (static_cast<double>(state >> 8) / 16777216.0 - 0.5) + ((state & 1) ? 0.01 : -0.01);
    }
    return x;
}

Coefficients negated(const Coefficients& x) {
    Coefficients y{};
    for (size_t k = 0; k < x.size(); ++k) y[k] = -x[k];
    return y;
}

TEST(Rematrixing, IdenticalChannelsMoveEverythingIntoLeftBelowUpperBin) {
    const Coefficients original = test_signal(7);
    Coefficients left = original;
    Coefficients right = original;
    const auto flags = rematrix_block(left, right, kRematrixUpperBin);
    EXPECT_EQ(flags, (std::array<uint8_t, 4>{1, 1, 1, 1}));
    for (int k = 0; k < kBinsPerBlock; ++k) {
        const bool band = k >= 13 && k < 253;
        EXPECT_EQ(left[k], original[k]) << k;
        EXPECT_EQ(right[k], band ? 0.0 : original[k]) << k;
    }
}

TEST(Rematrixing, OppositeChannelsMoveEverythingIntoRight) {
    const Coefficients original = test_signal(11);
    Coefficients left = original;
    Coefficients right = negated(original);
    const auto flags = rematrix_block(left, right, kRematrixUpperBin);
    EXPECT_EQ(flags, (std::array<uint8_t, 4>{1, 1, 1, 1}));
    for (int k = 13; k < 253; ++k) {
        EXPECT_EQ(left[k], 0.0) << k;
        EXPECT_EQ(right[k], original[k]) << k;
    }
    EXPECT_EQ(left[12], original[12]);
    EXPECT_EQ(right[253], -original[253]);
}

TEST(Rematrixing, SilentOrUnrelatedChannelsStayLeftRight) {
    const Coefficients original = test_signal(3);
    Coefficients left = original;
    Coefficients right{};
    EXPECT_EQ(rematrix_block(left, right, kRematrixUpperBin), (std::array<uint8_t, 4>{}));
    EXPECT_EQ(left, original);

    // Interleaved spectra: sum and difference each carry both channels.
    Coefficients even{};
    Coefficients odd{};
    for (int k = 0; k < kBinsPerBlock; ++k) (k % 2 ? odd : even)[k] = original[k];
    Coefficients l = even;
    Coefficients r = odd;
    EXPECT_EQ(rematrix_block(l, r, kRematrixUpperBin), (std::array<uint8_t, 4>{}));
    EXPECT_EQ(l, even);
    EXPECT_EQ(r, odd);
}

TEST(Rematrixing, CouplingStartEndsTheLastBand) {
    for (uint32_t upper : {85u, 97u, 109u}) {
        const Coefficients original = test_signal(upper);
        Coefficients left = original;
        Coefficients right = original;
        EXPECT_EQ(rematrix_block(left, right, upper), (std::array<uint8_t, 4>{1, 1, 1, 1}));
        for (uint32_t k = 0; k < kBinsPerBlock; ++k) {
            const bool band = k >= 13 && k < upper;
            EXPECT_EQ(right[k], band ? 0.0 : original[k]) << "upper " << upper << " bin " << k;
        }
    }
}

TEST(Rematrixing, OnlyBandsWhereSumOrDifferenceWinsAreFlagged) {
    // Identical channels in band 1 only; unrelated elsewhere.
    const Coefficients a = test_signal(21);
    Coefficients left{};
    Coefficients right{};
    for (int k = 0; k < kBinsPerBlock; ++k) {
        if (k >= 25 && k < 37) {
            left[k] = right[k] = a[k];
        } else {
            (k % 2 ? left : right)[k] = a[k];
        }
    }
    EXPECT_EQ(rematrix_block(left, right, kRematrixUpperBin), (std::array<uint8_t, 4>{0, 1, 0, 0}));
}

TEST(Rematrixing, FrameStoresFlagsAndRefreshesRawExponents) {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        blocks[b].coefficients[0] = test_signal(100 + b);
        blocks[b].coefficients[1] = b % 2 ? Coefficients{} : test_signal(100 + b);
        blocks[b].raw_exponents[0] = raw_exponents(blocks[b].coefficients[0]);
        blocks[b].raw_exponents[1] = raw_exponents(blocks[b].coefficients[1]);
    }
    rematrix_frame(blocks, kRematrixUpperBin);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        const uint8_t expected = b % 2 ? 0 : 1;
        EXPECT_EQ(blocks[b].rematflg, (std::array<uint8_t, 4>{expected, expected, expected, expected})) << b;
        EXPECT_EQ(blocks[b].raw_exponents[0], raw_exponents(blocks[b].coefficients[0]));
        EXPECT_EQ(blocks[b].raw_exponents[1], raw_exponents(blocks[b].coefficients[1]));
        // Right channel emptied in the rematrixed bands of even blocks.
        EXPECT_EQ(blocks[b].raw_exponents[1][100], 24) << b;
    }
}

}  // namespace
}  // namespace oskavi
