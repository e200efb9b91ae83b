#include "dsp/channel_tasks.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace oskavi {
namespace {

void run_share(uint32_t first, uint32_t channels, uint32_t stride, const std::function<void(uint32_t)>& task,
               std::exception_ptr& failure) {
    try {
        for (uint32_t c = first; c < channels; c += stride) task(c);
    } catch (...) {
        failure = std::current_exception();
    }
}

}  // namespace

void for_each_channel(uint32_t channels, uint32_t threads, const std::function<void(uint32_t)>& task) {
    const uint32_t shares = std::clamp<uint32_t>(threads, 1, std::max<uint32_t>(channels, 1));
    std::vector<std::exception_ptr> failures(shares);
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(shares - 1);
        for (uint32_t t = 1; t < shares; ++t)
            helpers.emplace_back([&, t] { run_share(t, channels, shares, task, failures[t]); });
        run_share(0, channels, shares, task, failures[0]);
    }  // joins the helpers
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

}  // namespace oskavi
