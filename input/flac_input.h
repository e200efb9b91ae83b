#pragma once
// FLAC input through the libFLAC stream decoder, which is loaded at run time
// (see input/flac_library.h). Without the library only FLAC input fails.

#include <cstdint>
#include <functional>
#include <span>
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

// Takes a stream's decoded frames as they come, in place of the returned
// buffer's samples. At the first audio frame it is asked whether it takes a
// stream of that format (STREAMINFO's frame count, 0 when unknown, comes
// with it); when it does, the returned buffer holds the format alone. A
// failed read throws as it would without it, whatever it was given.
struct DecodedFrameSink {
    std::function<bool(const PcmBuffer& format, uint64_t declared_frames)> takes;
    std::function<void(std::span<const float> interleaved)> push;
};
PcmBuffer read_flac_file(const std::string& path, const DecodedFrameSink& sink);

// The same with a given binding (a library found by another search).
std::string flac_feature_text(const FlacLibrary& library);
PcmBuffer read_flac_file(const std::string& path, const FlacLibrary& library, const DecodedFrameSink* sink = nullptr);

}  // namespace oskavi
