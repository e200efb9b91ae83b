#pragma once
// Streaming matrix-surround route: decodes a stereo WAVE/RF64 input to a 5.1
// bed frame by frame at the input rate (steering decoder, surround delayed
// through a ring buffer), converts it to 48 kHz, applies the optional bass
// management and the LFE low-pass, and encodes it without holding the input
// in memory. The whole-file decode normalises by its overall peak and the bass
// peak guard needs the whole-file LFE peak, so a "Matrix analysis" pass and,
// with bass management, a "Bass analysis" pass read the file before the
// "Encoding" pass. The samples reaching the encoder equal those of the
// whole-file route, so the AC-3 bytes do too.

#include <cstdint>
#include <string>

#include "ac3/encoder_settings.h"
#include "dsp/preprocess_settings.h"
#include "dsp/matrix_decode.h"
#include "stream/post_stage.h"
#include "stream/streaming_preprocess.h"

namespace oskavi {

class FrameWindowSink;

// What the "Matrix analysis" pass learns about the whole decode.
struct MatrixAnalysis {
    float matrix_scale = 1.0f;  // 1/peak of the decoded bed when that peak exceeds 1.0
    bool non_silent = false;    // some input sample above 1e-12 in magnitude
    double max_centre_steer = 0.0;
    double max_surround_steer = 0.0;
    uint64_t nan_samples = 0;  // NaN input samples read as 0.0
};

// Steers every frame of the stereo input once, reporting progress as
// "Matrix analysis". Throws "streaming matrix path requires canonical stereo
// WAV/RF64" for any other input.
MatrixAnalysis analyse_matrix(const std::string& input_path, const StreamProgress& progress);

// 48 kHz frames the route delivers for `input_frames` stereo frames at
// `sample_rate` plus the rear delay's tail.
uint64_t matrix_output_frames(uint32_t sample_rate, uint64_t input_frames, double rear_delay_ms);

// One pass over the file, re-opened and read from the start in 4096-frame
// blocks: steering, rear delay, the bed times `matrix_scale`, then the rate
// stage and the post stage (bass step when `bass_processing`, LFE times
// `lfe_scale` and 120 Hz low-pass). Every 48 kHz frame goes to `sink`, or
// nowhere when it is null.
StreamPassStats run_matrix_pass(const std::string& input_path, const PreprocessSettings& options, float matrix_scale,
                                double rear_delay_ms, bool bass_processing, float lfe_scale,
                                const std::string& label, const StreamProgress& progress, FrameWindowSink* sink);

// The whole route. `stats`, when given, receives the steering maxima and the
// rear delay once the analysis pass has run. Nothing is written before the
// analysis passes succeed.
StreamingSummary encode_wav_streaming_matrix(const std::string& input_path, const std::string& output_path,
                                             const EncoderSettings& encoder, const PreprocessSettings& options,
                                             double rear_delay_ms, MatrixDecodeStats* stats,
                                             const StreamProgress& progress);

}  // namespace oskavi
