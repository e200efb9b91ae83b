#pragma once
// The number of encoding threads, from the OSKAVI_THREADS variable.

#include <cstdint>
#include <optional>
#include <string>

namespace oskavi {

// More threads than this gain nothing and only cost memory for the frame
// windows in flight; larger requests are capped here.
inline constexpr uint32_t kMaxEncodingThreads = 256;

// Unset: the hardware's thread count. Set: decimal digits only (no sign, no
// blanks, nothing after them) with a value of at least 1. Both are capped at
// kMaxEncodingThreads. Any other value throws
// "OSKAVI_THREADS must be a whole number of at least 1".
uint32_t encoding_threads(const std::optional<std::string>& value, uint32_t hardware_threads);

}  // namespace oskavi
