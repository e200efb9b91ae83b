#pragma once
// The number of encoding threads, from the OSKAVI_THREADS variable.

#include <cstdint>
#include <optional>
#include <string>

namespace oskavi {

// Every worker holds a frame's analysis (some 120 KiB) and two windows in
// flight, so the thread count is capped to keep the streaming routes' peak
// resident size well under 32 MiB (about 18 MiB at this cap).
inline constexpr uint32_t kMaxEncodingThreads = 64;

// Unset: the hardware's thread count. Set: decimal digits only (no sign, no
// blanks, nothing after them) with a value of at least 1. Both are capped at
// kMaxEncodingThreads. Any other value throws
// "OSKAVI_THREADS must be a whole number of at least 1".
uint32_t encoding_threads(const std::optional<std::string>& value, uint32_t hardware_threads);

}  // namespace oskavi
