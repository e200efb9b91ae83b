#pragma once

#include <cstdint>

namespace oskavi {

// Monotonic time in nanoseconds from an arbitrary origin; only differences
// between two readings are meaningful.
uint64_t steady_clock_ns();

}  // namespace oskavi
