#include "dsp/fir_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/sample_rate_conversion.h"

namespace oskavi {
namespace {

// Rows of one filter over a signal: row r starts at input frame r, so output n
// of fir_rows is the dot product of the taps with frames n .. n + taps - 1.
struct Material {
    std::vector<double> signal;
    std::vector<double> taps;
    std::vector<const double*> rows;
};

Material material(size_t outputs, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-1.0f, 1.0f);
    Material m;
    m.taps = design_polyphase_bank(44100, 48000).phases[seed % 160];
    for (size_t i = 0; i < outputs + m.taps.size(); ++i) m.signal.push_back(sample(random));
    for (size_t r = 0; r < m.taps.size(); ++r) m.rows.push_back(m.signal.data() + r);
    return m;
}

std::vector<float> reference(const Material& m, size_t outputs) {
    std::vector<float> out(outputs);
    for (size_t n = 0; n < outputs; ++n)
        out[n] = polyphase_dot(m.taps, 0, [&](int64_t k) { return m.signal[n + static_cast<size_t>(k)]; });
    return out;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST(FirRows, EveryKernelGivesTheBitsOfTheOneAtATimeDotProduct) {
    // Run lengths that end in every one of the vector passes and the scalar tail.
    for (size_t outputs : {0u, 1u, 3u, 4u, 7u, 8u, 13u, 16u, 17u, 31u, 1000u}) {
        const Material m = material(outputs, static_cast<uint32_t>(outputs) + 3);
        const std::vector<float> expected = reference(m, outputs);
        std::vector<float> plain(outputs), dispatched(outputs);
        fir_rows_plain(m.rows, m.taps, plain);
        fir_rows(m.rows, m.taps, dispatched);
        EXPECT_TRUE(same_bits(plain, expected)) << outputs;
        EXPECT_TRUE(same_bits(dispatched, expected)) << outputs;
        if (fir_rows_avx2_available()) {
            std::vector<float> avx2(outputs);
            fir_rows_avx2(m.rows, m.taps, avx2);
            EXPECT_TRUE(same_bits(avx2, expected)) << outputs;
        }
    }
}

}  // namespace
}  // namespace oskavi
