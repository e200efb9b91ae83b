#pragma once
// Lines of the console report. Labels are 12 characters wide; each function
// writes complete lines to the given stream (the driver passes std::cout).

#include <cstdint>
#include <ostream>
#include <string>

#include "app/options.h"
#include "dsp/matrix_decode.h"
#include "input/input_selection.h"
#include "input/pcm_buffer.h"
#include "stream/streaming_preprocess.h"

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

// The lines before a route processes anything: "Input:", "Mode:", "Bass:"
// (with bass processing) and "AC-3:". The whole-file route names a 7.1
// source "7.1 PCM -> 5.1 AC-3", the streaming route "7.1 rear fold -> 5.1 AC-3".
void print_whole_file_header(std::ostream& out, const PcmBuffer& input, const CommandLine& cl);
void print_streaming_matrix_header(std::ostream& out, uint32_t sample_rate, const CommandLine& cl);
void print_streaming_preprocess_header(std::ostream& out, const StreamEligibility& input, const CommandLine& cl);

// Whole-file route, in the order written. "Matrix:" with the steering maxima
// leaves the stream in fixed notation with precision 1; "Downmix:" of a 7.1
// source leaves it fixed with precision 4.
void print_matrix_decode_line(std::ostream& out, const MatrixDecodeStats& stats);
void print_rear_fold_line(std::ostream& out, const PreprocessSettings& preprocess);
// "Processing:" with the 48 kHz buffer's rate and layout, then "AC-3:".
void print_processing_lines(std::ostream& out, const PcmBuffer& pcm, const EncoderSettings& encoder);
// The last line of a --preflight run, which writes no AC-3.
void print_preflight_end(std::ostream& out, bool spectral_analysis);

// The lines closing a streaming route once its encode has finished:
// "Matrix:" or "Downmix:" (7.1 source only), "Processing:", "AC-3:" and the
// streaming summary.
void print_streaming_matrix_result(std::ostream& out, const MatrixDecodeStats& steering,
                                   const StreamingSummary& totals, const CommandLine& cl);
void print_streaming_preprocess_result(std::ostream& out, ChannelLayout source, const StreamingSummary& totals,
                                       const CommandLine& cl);

}  // namespace oskavi
