#pragma once

#include <cstdint>

namespace oskavi {

// Largest resident set size this process has had so far, in bytes.
uint64_t peak_resident_bytes();

}  // namespace oskavi
