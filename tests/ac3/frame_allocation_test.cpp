#include "ac3/frame_allocation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ac3/exponents.h"
#include "ac3/frame_packer.h"
#include "bitstream/bit_writer.h"
#include "tests/support/handmade_frame.h"

namespace oskavi {
namespace {

using test::HandmadeFrame;
using test::HandmadeOptions;

// A 1792-sample window: two partials and some noise.
std::vector<double> window(std::mt19937& rng, double frequency, double level) {
    std::normal_distribution<double> noise(0.0, 0.02 * level);
    std::vector<double> w(1792);
    for (std::size_t n = 0; n < w.size(); ++n) {
        const double t = static_cast<double>(n) / 48000.0;
        w[n] = level * (std::sin(6.283185307179586 * frequency * t) + 0.3 * std::sin(6.283185307179586 * 5.3 * frequency * t)) +
               noise(rng);
    }
    return w;
}

// Blocks 3..5 of channel 0 send a new D25 set: two exponent runs, whose
// curves must not be shared.
void split_first_channel(HandmadeFrame& frame) {
    RawExponents minima;
    minima.fill(24);
    for (int b = 3; b < kBlocksPerFrame; ++b) {
        for (int k = 0; k < kBinsPerBlock; ++k) minima[k] = std::min(minima[k], frame.blocks[b].raw_exponents[0][k]);
    }
    const ExponentSet second = prepare_exponent_set(minima, kExpD25, frame.plan.endmant[0]);
    for (int b = 3; b < kBlocksPerFrame; ++b) frame.blocks[b].exponent_sets[0] = second;
    frame.plan.chexpstr[3][0] = kExpD25;
}

struct Case {
    std::string name;
    uint32_t channels;
    uint32_t kbps;
    HandmadeFrame frame;
};

std::vector<Case> cases() {
    std::mt19937 rng(42);
    std::vector<Case> all;
    HandmadeOptions options;
    all.push_back({"mono", 1, 96, test::make_handmade_frame({window(rng, 440.0, 0.4)}, options)});
    options.rematrix = true;
    HandmadeFrame stereo = test::make_handmade_frame({window(rng, 330.0, 0.5), window(rng, 660.0, 0.2)}, options);
    split_first_channel(stereo);
    all.push_back({"stereo with two exponent runs", 2, 192, stereo});
    options.coupling_kbps = 192;
    options.endmant = 253;
    all.push_back({"coupled stereo", 2, 192,
                   test::make_handmade_frame({window(rng, 500.0, 0.5), window(rng, 500.0, 0.4)}, options)});
    HandmadeOptions surround;
    surround.lfe = true;
    std::vector<std::vector<double>> windows;
    for (int c = 0; c < 5; ++c) windows.push_back(window(rng, 200.0 + 150.0 * c, 0.3));
    windows.push_back(window(rng, 60.0, 0.5));
    all.push_back({"5.1", 6, 384, test::make_handmade_frame(windows, surround)});
    return all;
}

// One FrameAllocation carried through a probe sequence like the fit search
// (63, 0, then halving) gives the same sizes, verdicts and bytes as packing
// every probe from scratch.
TEST(FrameAllocation, SharedAllocationPacksLikeFreshPacks) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        FrameAllocation allocation(c.frame.blocks, c.frame.plan, c.channels);
        int fitting = 0;
        for (int cs : {63, 0, 31, 47, 39, 35, 33, 32, 15, 7, 3, 1, 2, 55}) {
            const auto csnroffst = static_cast<uint8_t>(cs);
            SCOPED_TRACE("csnroffst " + std::to_string(cs));
            BitWriter fresh(0, true);
            BitWriter shared(0, true);
            ASSERT_EQ(pack_frame_bits(shared, c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst,
                                      allocation),
                      pack_frame_bits(fresh, c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst));
            const bool fits = frame_fits(c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst);
            ASSERT_EQ(frame_fits(c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst, allocation), fits);
            if (!fits) continue;
            ++fitting;
            ASSERT_EQ(write_frame(c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst, allocation),
                      write_frame(c.frame.blocks, c.frame.plan, c.kbps, -27, c.channels, csnroffst));
        }
        EXPECT_GT(fitting, 2);
        EXPECT_LT(fitting, 14);
    }
}

// The remembered side information belongs to the packing parameters it was
// counted with: another dialnorm or rate is counted afresh.
TEST(FrameAllocation, SideInformationIsKeyedByRateAndDialnorm) {
    std::vector<Case> all = cases();
    const Case& c = all[1];
    FrameAllocation allocation(c.frame.blocks, c.frame.plan, c.channels);
    EXPECT_FALSE(allocation.side_bits(192, -27).has_value());
    ASSERT_NO_THROW(frame_fits(c.frame.blocks, c.frame.plan, 192, -27, c.channels, 20, allocation));
    ASSERT_TRUE(allocation.side_bits(192, -27).has_value());
    EXPECT_FALSE(allocation.side_bits(256, -27).has_value());
    EXPECT_FALSE(allocation.side_bits(192, -20).has_value());
    for (uint32_t kbps : {128u, 256u, 640u}) {
        for (uint8_t cs : {0, 20, 40}) {
            EXPECT_EQ(frame_fits(c.frame.blocks, c.frame.plan, kbps, -27, c.channels, cs, allocation),
                      frame_fits(c.frame.blocks, c.frame.plan, kbps, -27, c.channels, cs));
        }
    }
    // A dialnorm the field cannot hold fails as it does without the cache.
    EXPECT_THROW(frame_fits(c.frame.blocks, c.frame.plan, 192, 5, c.channels, 20), std::runtime_error);
    EXPECT_THROW(frame_fits(c.frame.blocks, c.frame.plan, 192, 5, c.channels, 20, allocation), std::runtime_error);
}

}  // namespace
}  // namespace oskavi
