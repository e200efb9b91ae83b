#pragma once
// Lines of the console report. Labels are 12 characters wide; each function
// writes complete lines to the given stream (the driver passes std::cout).

#include <cstdint>
#include <ostream>
#include <string>

#include "app/options.h"
#include "input/pcm_buffer.h"

namespace oskavi {

// "1.0", "2.0", "5.1", "7.1" or "unknown".
std::string layout_format_label(ChannelLayout layout);

// From the file name only: the text after the last '.', lower-cased, gives
// "FLAC" for "flac", "RF64" for "rf64" and "WAVE" for anything else.
std::string container_tag(const std::string& path);

// "Input:      48000 Hz, 2 ch (2.0, WAVE)"
void print_input_line(std::ostream& out, uint32_t sample_rate, uint32_t channels, ChannelLayout layout,
                      const std::string& path);

// Nothing without bass processing; otherwise the "Bass:" line. Leaves the
// stream in default float notation with precision 0.
void print_bass_line(std::ostream& out, const PreprocessSettings& preprocess);

// "AC-3:       448 kbps CBR, dialnorm -31 dB"
void print_ac3_line(std::ostream& out, const EncoderSettings& encoder);

// The "Streaming:", "Realized:" and "Padding:" lines closing a streaming
// route. Leaves the stream in default float notation with precision 2.
void print_streaming_summary(std::ostream& out, uint64_t ac3_frames, uint64_t delivered_frames,
                             uint32_t peak_workspace_bytes, const EncoderSettings& encoder);

}  // namespace oskavi
