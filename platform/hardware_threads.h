#pragma once
// The number of threads the machine runs at once.

#include <cstdint>

namespace oskavi {

// The hardware concurrency, at least 1 (also when it cannot be determined).
uint32_t hardware_threads();

}  // namespace oskavi
