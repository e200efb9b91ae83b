#pragma once
// Choice of reader by file-name extension, and the tests that tell the run
// driver whether a streaming route can take an input.

#include <cstdint>
#include <string>

#include "input/pcm_buffer.h"

namespace oskavi {

struct DecodedFrameSink;

// From the last '.' of the whole path to its end, '.' included, ASCII
// lower-cased; empty when the path has no '.'.
std::string input_extension(const std::string& path);

// Reads the whole input: ".wav", ".wave", ".rf64" through the WAVE reader,
// ".flac" through libFLAC; anything else is refused.
PcmBuffer read_input(const std::string& path);

// The same; `nan_samples` receives the number of NaN samples read as 0.0
// (only float WAVE input can hold them). A FLAC input's frames are offered
// to `flac_sink` as they are decoded (see read_flac_file).
PcmBuffer read_input(const std::string& path, uint64_t& nan_samples, const DecodedFrameSink* flac_sink = nullptr);

// True for ".wav", ".wave" and ".rf64", the extensions of the WAVE reader.
bool is_wave_extension(const std::string& extension);

// Header facts of a streaming-eligibility test. The facts are filled whenever
// the streaming reader could open the file, eligible or not.
struct StreamEligibility {
    bool eligible = false;
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    ChannelLayout layout = ChannelLayout::Unknown;
    uint64_t total_frames = 0;
};

// Rates the streaming rate stage handles: 44.1/48/88.2/96/176.4/192 kHz.
bool is_streaming_rate(uint32_t sample_rate);

// Stereo WAVE/RF64 at a streaming rate (the matrix-decode route). Never throws
// for a bad input: it answers not eligible and leaves the error to the
// whole-file route.
StreamEligibility can_stream_matrix(const std::string& path);

// Mono, stereo, 5.1 or 7.1 WAVE/RF64 at a streaming rate. Never throws for a
// bad input.
StreamEligibility can_stream_preprocess(const std::string& path);

}  // namespace oskavi
