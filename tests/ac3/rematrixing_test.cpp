#include "ac3/rematrixing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "ac3/exponents.h"

namespace oskavi {
namespace {

using Frame = std::array<BlockAnalysis, kBlocksPerFrame>;

// A stereo frame whose bands mix independent, equal, opposite and nearly
// equal channels, block by block, with raw exponents of the coefficients.
Frame mixed_frame(std::mt19937& rng) {
    std::normal_distribution<double> normal(0.0, 1.0);
    Frame frame;
    for (BlockAnalysis& block : frame) {
        const int kind = static_cast<int>(rng() % 5);
        const double scale = std::ldexp(1.0, -static_cast<int>(rng() % 20));
        for (int k = 0; k < kBinsPerBlock; ++k) {
            const double l = scale * normal(rng);
            double r = scale * normal(rng);
            if (kind == 1) r = l;                    // the difference is silent
            if (kind == 2) r = -l;                   // the sum is silent
            if (kind == 3) r = l * (1.0 + 1e-3 * normal(rng));
            if (kind == 4) r = 0.0;                  // left and right differ in energy
            block.coefficients[0][k] = l;
            block.coefficients[1][k] = r;
        }
        block.raw_exponents[0] = raw_exponents(block.coefficients[0]);
        block.raw_exponents[1] = raw_exponents(block.coefficients[1]);
    }
    return frame;
}

bool same_bits(const Coefficients& a, const Coefficients& b) { return std::memcmp(a.data(), b.data(), sizeof a) == 0; }

TEST(Rematrixing, FourBlocksSideBySideDecideAndRewriteAsOneAtATime) {
    std::mt19937 rng(17);
    int rewritten = 0;
    int kept = 0;
    for (int trial = 0; trial < 60; ++trial) {
        // The whole range, coupling starts inside bands 3 and 2, and one
        // that leaves the last band empty.
        for (uint32_t upper : {kRematrixUpperBin, 133u, 49u, 61u}) {
            const Frame input = mixed_frame(rng);
            Frame vector = input;
            Frame plain = input;
            rematrix_frame(vector, upper);
            rematrix_frame_plain(plain, upper);
            for (int b = 0; b < kBlocksPerFrame; ++b) {
                SCOPED_TRACE("trial " + std::to_string(trial) + " upper " + std::to_string(upper) + " block " +
                             std::to_string(b));
                ASSERT_EQ(vector[b].rematflg, plain[b].rematflg);
                ASSERT_TRUE(same_bits(vector[b].coefficients[0], plain[b].coefficients[0]));
                ASSERT_TRUE(same_bits(vector[b].coefficients[1], plain[b].coefficients[1]));
                ASSERT_EQ(vector[b].raw_exponents, plain[b].raw_exponents);
                // The exponents follow the coefficients, rewritten or not.
                ASSERT_EQ(vector[b].raw_exponents[0], raw_exponents(vector[b].coefficients[0]));
                if (upper == 61u) {
                    ASSERT_EQ(vector[b].rematflg[3], 0);
                }
                for (uint8_t flag : plain[b].rematflg) (flag != 0 ? rewritten : kept) += 1;
            }
        }
    }
    // Both decisions were taken many times.
    EXPECT_GT(rewritten, 200);
    EXPECT_GT(kept, 200);
}

TEST(Rematrixing, EqualChannelsAreSentAsSumAndASilentDifference) {
    std::mt19937 rng(3);
    Frame frame = mixed_frame(rng);
    for (BlockAnalysis& block : frame) {
        block.coefficients[1] = block.coefficients[0];
        block.raw_exponents[1] = block.raw_exponents[0];
    }
    const Frame input = frame;
    rematrix_frame(frame, kRematrixUpperBin);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        EXPECT_EQ(frame[b].rematflg, (std::array<uint8_t, 4>{1, 1, 1, 1}));
        for (int k = 0; k < kBinsPerBlock; ++k) {
            const bool inside = k >= 13 && k < static_cast<int>(kRematrixUpperBin);
            EXPECT_EQ(frame[b].coefficients[0][k], input[b].coefficients[0][k]) << k;
            EXPECT_EQ(frame[b].coefficients[1][k], inside ? 0.0 : input[b].coefficients[1][k]) << k;
        }
    }
}

}  // namespace
}  // namespace oskavi
