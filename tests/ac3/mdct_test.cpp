#include "ac3/mdct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "ac3/mdct_window.h"

namespace oskavi {
namespace {

using Block = std::array<double, 512>;
using LongDouble = long double;

constexpr LongDouble kPi = 3.141592653589793238462643383279502884L;
constexpr double kTolerance = 1e-14;

Block random_block(unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Block x{};
    for (double& v : x) v = dist(rng);
    return x;
}

// The defining sum in long double over samples [first, first + length):
// X[k] = -(2/N) sum_n w[n] x[n] cos((2 pi / 4N)(2n+1)(2k+1) + (pi/4)(2k+1)(1 + alpha)).
LongDouble mdct_by_definition(const Block& x, int first, int length, int k, int one_plus_alpha) {
    LongDouble sum = 0.0L;
    for (int n = 0; n < length; ++n) {
        const int at = first + n;
        const LongDouble angle = (2.0L * kPi / (4.0L * length)) * (2 * n + 1) * (2 * k + 1) +
                                 (kPi / 4.0L) * (2 * k + 1) * one_plus_alpha;
        sum += static_cast<LongDouble>(mdct_window(at)) * x[static_cast<std::size_t>(at)] * std::cos(angle);
    }
    return -(2.0L / length) * sum;
}

// Long transform, or the short pair interleaved: the first transform
// (alpha -1) at even outputs, the second (alpha +1) at odd outputs.
std::vector<LongDouble> reference(const Block& x, bool short_pair) {
    std::vector<LongDouble> out(256);
    for (int k = 0; k < 256; ++k)
        out[static_cast<std::size_t>(k)] = short_pair ? (k % 2 == 0 ? mdct_by_definition(x, 0, 256, k / 2, 0)
                                                                    : mdct_by_definition(x, 256, 256, k / 2, 2))
                                                      : mdct_by_definition(x, 0, 512, k, 1);
    return out;
}

LongDouble max_error(const MdctOutput& got, const std::vector<LongDouble>& want) {
    LongDouble worst = 0.0L;
    for (std::size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::fabs(got[k] - want[k]));
    return worst;
}

TEST(Mdct, FastAndDensePathsMatchTheDefiningSums) {
    for (unsigned seed = 1; seed <= 2; ++seed) {
        const Block x = random_block(seed);
        const auto want_long = reference(x, false), want_short = reference(x, true);
        EXPECT_GT(std::fabs(want_long[3]) + std::fabs(want_long[200]), 1e-3L);  // something to compare
        EXPECT_LT(max_error(mdct_long_fast(x), want_long), kTolerance) << seed;
        // The build for this processor and the plain one, bit for bit.
        const MdctOutput fast = mdct_long_fast(x), plain = mdct_long_fast_plain(x);
        EXPECT_EQ(std::memcmp(fast.data(), plain.data(), sizeof fast), 0) << seed;
        EXPECT_LT(max_error(mdct_long_dense(x), want_long), kTolerance) << seed;
        EXPECT_LT(max_error(mdct_short_pair_fast(x), want_short), kTolerance) << seed;
        EXPECT_LT(max_error(mdct_short_pair_dense(x), want_short), kTolerance) << seed;
    }
}

}  // namespace
}  // namespace oskavi
