#include "ac3/mdct.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ac3/mdct_window.h"

namespace oskavi {
namespace {

using Block = std::array<double, 512>;
using LongDouble = long double;

constexpr LongDouble kPi = 3.141592653589793238462643383279502884L;

Block random_block(unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Block x{};
    for (double& v : x) v = dist(rng);
    return x;
}

// The defining sums, straight from the A/52 transform equations, in long
// double: X[k] = -(2/N) sum_n s[n] cos((2 pi / 4N)(2n+1)(2k+1) + (pi/4)(2k+1)(1 + alpha)).
std::vector<LongDouble> mdct_by_definition(const Block& x, int first, int length, int k_count, int one_plus_alpha) {
    const LongDouble n_total = length;
    std::vector<LongDouble> out(static_cast<std::size_t>(k_count));
    for (int k = 0; k < k_count; ++k) {
        LongDouble sum = 0.0L;
        for (int n = 0; n < length; ++n) {
            const int at = first + n;
            const LongDouble s = static_cast<LongDouble>(mdct_window(at)) * x[static_cast<std::size_t>(at)];
            const LongDouble angle = (2.0L * kPi / (4.0L * n_total)) * (2 * n + 1) * (2 * k + 1) +
                                     (kPi / 4.0L) * (2 * k + 1) * one_plus_alpha;
            sum += s * std::cos(angle);
        }
        out[static_cast<std::size_t>(k)] = -(2.0L / n_total) * sum;
    }
    return out;
}

std::vector<LongDouble> long_reference(const Block& x) { return mdct_by_definition(x, 0, 512, 256, 1); }

// Short pair: the first transform (alpha = -1) at even outputs, the second
// (alpha = +1) at odd outputs.
std::vector<LongDouble> short_pair_reference(const Block& x) {
    const auto first = mdct_by_definition(x, 0, 256, 128, 0);
    const auto second = mdct_by_definition(x, 256, 256, 128, 2);
    std::vector<LongDouble> out(256);
    for (std::size_t k = 0; k < 128; ++k) {
        out[2 * k] = first[k];
        out[2 * k + 1] = second[k];
    }
    return out;
}

LongDouble max_error(const MdctOutput& got, const std::vector<LongDouble>& want) {
    LongDouble worst = 0.0L;
    for (std::size_t k = 0; k < got.size(); ++k) worst = std::max(worst, std::fabs(got[k] - want[k]));
    return worst;
}

double max_difference(const MdctOutput& a, const MdctOutput& b) {
    double worst = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) worst = std::max(worst, std::fabs(a[k] - b[k]));
    return worst;
}

constexpr double kTolerance = 1e-14;

// Sets OSKAVI_DENSE_MDCT for one scope and restores the previous state.
class DenseMdctVariable {
public:
    explicit DenseMdctVariable(const char* value) {
        if (const char* old = std::getenv(kName)) saved_ = old, had_value_ = true;
        if (value != nullptr) {
            setenv(kName, value, 1);
        } else {
            unsetenv(kName);
        }
    }
    ~DenseMdctVariable() {
        if (had_value_) {
            setenv(kName, saved_.c_str(), 1);
        } else {
            unsetenv(kName);
        }
    }
    DenseMdctVariable(const DenseMdctVariable&) = delete;
    DenseMdctVariable& operator=(const DenseMdctVariable&) = delete;

private:
    static constexpr const char* kName = "OSKAVI_DENSE_MDCT";
    std::string saved_;
    bool had_value_ = false;
};

TEST(MdctWindow, MatchesTheTabulatedA52Window) {
    long long sum_in_units = 0;
    for (double w : kMdctWindow) sum_in_units += std::llround(w * 100000.0);
    EXPECT_EQ(sum_in_units, 14951498);
    EXPECT_EQ(kMdctWindow.front(), 0.00014);
    EXPECT_EQ(kMdctWindow[3], 0.00051);
    EXPECT_EQ(kMdctWindow.back(), 1.0);
    for (int n = 0; n < 512; ++n) EXPECT_EQ(mdct_window(n), mdct_window(511 - n)) << n;
    for (std::size_t n = 1; n < kMdctWindow.size(); ++n) EXPECT_GE(kMdctWindow[n], kMdctWindow[n - 1]) << n;
}

TEST(Mdct, BothPathsMatchTheDefiningSumsOnRandomInput) {
    for (unsigned seed = 1; seed <= 4; ++seed) {
        const Block x = random_block(seed);
        const auto want_long = long_reference(x);
        const auto want_short = short_pair_reference(x);
        const MdctOutput fast_long = mdct_long_fast(x);
        const MdctOutput dense_long = mdct_long_dense(x);
        const MdctOutput fast_short = mdct_short_pair_fast(x);
        const MdctOutput dense_short = mdct_short_pair_dense(x);
        EXPECT_LT(max_error(fast_long, want_long), kTolerance) << "seed " << seed;
        EXPECT_LT(max_error(dense_long, want_long), kTolerance) << "seed " << seed;
        EXPECT_LT(max_error(fast_short, want_short), kTolerance) << "seed " << seed;
        EXPECT_LT(max_error(dense_short, want_short), kTolerance) << "seed " << seed;
        EXPECT_LT(max_difference(fast_long, dense_long), kTolerance);
        EXPECT_LT(max_difference(fast_short, dense_short), kTolerance);
        // The coefficients are not trivially small: the check has something to compare.
        EXPECT_GT(std::fabs(want_long[3]) + std::fabs(want_long[200]), 1e-3L);
    }
}

TEST(Mdct, ImpulseAtBlockStartGivesTheWindowedCosine) {
    Block x{};
    x[256] = 1.0;
    const MdctOutput fast = mdct_long_fast(x);
    const MdctOutput dense = mdct_long_dense(x);
    for (int k = 0; k < 256; ++k) {
        const LongDouble want = -(1.0L / 256.0L) * mdct_window(256) *
                                std::cos((kPi / 1024.0L) * 513 * (2 * k + 1) + (kPi / 4.0L) * (2 * k + 1));
        EXPECT_NEAR(fast[static_cast<std::size_t>(k)], static_cast<double>(want), kTolerance) << k;
        EXPECT_NEAR(dense[static_cast<std::size_t>(k)], static_cast<double>(want), kTolerance) << k;
    }
}

TEST(Mdct, ShortPairHalvesDependOnlyOnTheirOwnSamples) {
    const Block base = random_block(11);
    const Block other = random_block(12);
    Block first_changed = base;
    Block second_changed = base;
    for (std::size_t n = 0; n < 256; ++n) first_changed[n] = other[n];
    for (std::size_t n = 256; n < 512; ++n) second_changed[n] = other[n];

    for (auto transform : {&mdct_short_pair_fast, &mdct_short_pair_dense}) {
        const MdctOutput ref = transform(base);
        const MdctOutput a = transform(first_changed);
        const MdctOutput b = transform(second_changed);
        for (std::size_t k = 0; k < 128; ++k) {
            EXPECT_EQ(a[2 * k + 1], ref[2 * k + 1]) << k;  // second transform untouched
            EXPECT_EQ(b[2 * k], ref[2 * k]) << k;          // first transform untouched
        }
        EXPECT_NE(a[0], ref[0]);
        EXPECT_NE(b[1], ref[1]);
    }
}

TEST(Mdct, ZeroInputGivesZeroCoefficients) {
    const Block x{};
    for (auto transform : {&mdct_long_fast, &mdct_long_dense, &mdct_short_pair_fast, &mdct_short_pair_dense}) {
        for (double c : transform(x)) EXPECT_EQ(c, 0.0);
    }
}

// The two paths round differently, so on random input their outputs differ
// in some low bit; the dispatched result must equal one of them bit for bit.
TEST(Mdct, DenseMdctVariableSelectsThePathOnEveryCall) {
    const Block x = random_block(21);
    const MdctOutput fast_long = mdct_long_fast(x);
    const MdctOutput dense_long = mdct_long_dense(x);
    const MdctOutput fast_short = mdct_short_pair_fast(x);
    const MdctOutput dense_short = mdct_short_pair_dense(x);
    ASSERT_NE(fast_long, dense_long);
    ASSERT_NE(fast_short, dense_short);

    struct Case {
        const char* value;
        bool dense;
    };
    for (const Case& c : {Case{nullptr, false}, Case{"", false}, Case{"0", false}, Case{"0abc", false},
                          Case{"1", true}, Case{"yes", true}}) {
        const DenseMdctVariable variable(c.value);
        const std::string label = c.value == nullptr ? "unset" : std::string("\"") + c.value + "\"";
        EXPECT_EQ(mdct_uses_dense_path(), c.dense) << label;
        EXPECT_EQ(mdct_long(x), c.dense ? dense_long : fast_long) << label;
        EXPECT_EQ(mdct_short_pair(x), c.dense ? dense_short : fast_short) << label;
    }
}

}  // namespace
}  // namespace oskavi
