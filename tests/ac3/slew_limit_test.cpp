#include "ac3/slew_limit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <vector>

namespace oskavi {
namespace {

// The largest sequence at or below r whose neighbours differ by at most 2:
// each value is min over j of r[j] + 2 |i - j|.
std::vector<uint8_t> lipschitz_envelope(const std::vector<uint8_t>& r) {
    std::vector<uint8_t> out(r.size());
    for (size_t i = 0; i < r.size(); ++i) {
        int best = 255;
        for (size_t j = 0; j < r.size(); ++j)
            best = std::min(best, r[j] + 2 * std::abs(static_cast<int>(i) - static_cast<int>(j)));
        out[i] = static_cast<uint8_t>(best);
    }
    return out;
}

TEST(SlewLimit, EveryKernelGivesTheLargestSequenceWithStepsOfAtMostTwo) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 600; ++trial) {
        const size_t n = 1 + random() % 256;
        // Mostly quiet with deep notches, so that long slopes occur.
        std::vector<uint8_t> r(n);
        for (uint8_t& e : r) e = static_cast<uint8_t>(random() % 4 == 0 ? random() % 25 : 20 + random() % 5);
        const std::vector<uint8_t> expected = lipschitz_envelope(r);
        std::vector<uint8_t> plain = r;
        std::vector<uint8_t> vectors = r;
        std::vector<uint8_t> wide = r;
        limit_slew_plain(plain);
        limit_slew_sse2(vectors);
        limit_slew_avx2(wide);
        ASSERT_EQ(plain, expected) << "n = " << n;
        ASSERT_EQ(vectors, expected) << "n = " << n;
        ASSERT_EQ(wide, expected) << "n = " << n;
        // In place, with the bytes past n as low as they go: nothing there may leak in.
        std::array<uint8_t, kSlewRoom> buffer{};
        std::copy(r.begin(), r.end(), buffer.begin());
        limit_slew_in_place(buffer, n);
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin())) << "in place, n = " << n;
    }
    if (!limit_slew_sse2_available()) GTEST_SKIP() << "built without SSE2: only the plain kernel ran";
}

}  // namespace
}  // namespace oskavi
