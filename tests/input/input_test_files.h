#pragma once
// Signals for the input tests and the external tools that write real files.

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace oskavi::test {

using TempDir = TempDirectory;

// Interleaved test signal in -0.9..0.9: a different sine mix per channel,
// with a slow ramp so no two frames repeat.
std::vector<float> test_signal(uint32_t channels, uint32_t frames, uint32_t sample_rate);

// Rounds a signal to signed integers of `bits` bits (full scale 2^(bits-1)).
std::vector<int32_t> quantize(const std::vector<float>& signal, uint32_t bits);

// Writes little-endian raw samples: 32-bit floats, or integers of 16/24 bits.
void write_raw_float(const std::string& path, const std::vector<float>& samples);
void write_raw_int(const std::string& path, const std::vector<int32_t>& samples, uint32_t bits);

// Runs an external tool; fails the calling test (ADD_FAILURE) and returns
// false when it does not exit with 0.
bool run_tool(const std::vector<std::string>& argv);

}  // namespace oskavi::test
