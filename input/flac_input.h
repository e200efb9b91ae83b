#pragma once
// FLAC input through the libFLAC stream decoder, which is loaded at run time
// (see input/flac_library.h). Without the library only FLAC input fails.

#include <string>

#include "input/pcm_buffer.h"

namespace oskavi {

class FlacLibrary;

// Availability text for the feature list, printed after "FLAC input: ", for
// the process-wide library.
std::string flac_feature_text();

// Decodes a whole FLAC file with the process-wide library. Samples are scaled
// by 2^-(bits-1); the layout follows the channel count alone (1 mono,
// 2 stereo, 6 5.1, 8 7.1).
PcmBuffer read_flac_file(const std::string& path);

// The same with a given binding (a library found by another search).
std::string flac_feature_text(const FlacLibrary& library);
PcmBuffer read_flac_file(const std::string& path, const FlacLibrary& library);

}  // namespace oskavi
