#pragma once
// Runs one task per channel on up to `threads` threads. Channels are
// independent in the filters that use this (each output sample is computed
// exactly as on one thread), so splitting them changes nothing but the time.

#include <cstdint>
#include <functional>

namespace oskavi {

// Calls task(c) once for every c in [0, channels); thread t of `threads`
// takes the channels c with c % threads == t, the calling thread being
// thread 0. An exception from any task is rethrown here once all have ended.
void for_each_channel(uint32_t channels, uint32_t threads, const std::function<void(uint32_t)>& task);

}  // namespace oskavi
