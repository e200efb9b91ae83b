#include "bitstream/rate_table.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace oskavi {
namespace {

TEST(RateTable, EveryLegalRateHasEvenCodeAndFourBytesPerKbps) {
    for (uint32_t i = 0; i < kAc3Bitrates.size(); ++i) {
        const Ac3RateInfo info = lookup_rate(kAc3Bitrates[i]);
        EXPECT_EQ(info.frmsizecod, 2 * i);
        EXPECT_EQ(info.frame_bytes, 4 * kAc3Bitrates[i]);
        EXPECT_EQ(info.frame_words, 2 * kAc3Bitrates[i]);
    }
    const Ac3RateInfo info = lookup_rate(448);
    EXPECT_EQ(info.frmsizecod, 30);
    EXPECT_EQ(info.frame_words, 896);
    EXPECT_EQ(info.frame_bytes, 1792);
}

TEST(RateTable, RejectsIllegalRates) {
    for (uint32_t rate : {0u, 31u, 441u, 641u, 4294967295u}) {
        try {
            lookup_rate(rate);
            ADD_FAILURE() << rate;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(),
                         "Unsupported AC-3 bitrate at 48 kHz (legal values: "
                         "32,40,48,56,64,80,96,112,128,160,192,224,256,320,384,448,512,576,640 kbps)");
        }
    }
}

TEST(ChannelConfig, MapsCountsToAcmodAndLfe) {
    const uint8_t expected_acmod[] = {1, 2, 3, 6, 7, 7};
    for (uint32_t n = 1; n <= 6; ++n) {
        const ChannelConfig config = channel_config(n);
        EXPECT_EQ(config.acmod, expected_acmod[n - 1]);
        EXPECT_EQ(config.lfeon, n == 6 ? 1 : 0);
    }
    EXPECT_THROW(channel_config(0), std::runtime_error);
    EXPECT_THROW(channel_config(7), std::runtime_error);
}

}  // namespace
}  // namespace oskavi
