#pragma once
// Whole-file reader for RIFF/WAVE and RF64/WAVE (16/24/32-bit PCM, 32-bit
// float, plain or extensible `fmt `).

#include <string>

#include "input/pcm_buffer.h"
#include "input/wave_chunks.h"

namespace oskavi {

// Reads the whole file: the `data` body in one read, then one conversion pass.
// Peak memory is the data size plus four bytes per sample.
PcmBuffer read_wave_file(const std::string& path);

}  // namespace oskavi
