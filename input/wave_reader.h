#pragma once
// Whole-file reader for RIFF/WAVE and RF64/WAVE (16/24/32-bit PCM, 32-bit
// float, plain or extensible `fmt `).

#include <cstdint>
#include <string>

#include "input/pcm_buffer.h"
#include "input/wave_chunks.h"

namespace oskavi {

// Reads the whole file: the `data` body in one read, then one conversion pass.
// Peak memory is the data size plus four bytes per sample.
PcmBuffer read_wave_file(const std::string& path);

// The same; `nan_samples` receives the number of NaN float samples that were
// read as 0.0.
PcmBuffer read_wave_file(const std::string& path, uint64_t& nan_samples);

// Walks the file exactly as read_wave_file does and makes every check it
// makes, failing with the same message, but reads no sample data: returns the
// buffer read_wave_file would return, without its samples.
PcmBuffer read_wave_header(const std::string& path);

}  // namespace oskavi
