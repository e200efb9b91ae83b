#include "dsp/channel_tasks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace oskavi {
namespace {

TEST(ChannelTasks, EveryChannelRunsOnceAndAFailureIsRethrownAfterTheOthers) {
    for (const uint32_t threads : {0u, 1u, 2u, 3u, 8u}) {
        std::vector<std::atomic<int>> runs(6);
        for_each_channel(6, threads, [&](uint32_t c) { ++runs[c]; });
        for (uint32_t c = 0; c < 6; ++c) EXPECT_EQ(runs[c].load(), 1) << threads << " threads, channel " << c;

        std::vector<std::atomic<int>> finished(6);
        EXPECT_THROW(for_each_channel(6, threads,
                                      [&](uint32_t c) {
                                          if (c == 3) throw std::runtime_error("channel 3 failed");
                                          ++finished[c];
                                      }),
                     std::runtime_error);
        // Each share runs its channels in ascending order, so channel 0 ran.
        EXPECT_EQ(finished[0].load(), 1) << threads;
    }
}

}  // namespace
}  // namespace oskavi
