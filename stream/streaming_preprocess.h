#pragma once
// Streaming preprocess route: encodes a WAVE/RF64 input of any supported rate
// and of layout mono, stereo, 5.1 or 7.1 without holding it in memory. The
// whole-file quantities the peak guards and the LFE activity test depend on
// come from analysis passes over the file; the final "Encoding" pass runs the
// identical per-frame processing (fold, rate stage, bass step, LFE low-pass)
// into a FrameWindowSink, so the AC-3 bytes equal those of the whole-file route.

#include <cstdint>
#include <functional>
#include <string>

#include "ac3/encoder_settings.h"
#include "dsp/preprocess_settings.h"
#include "input/pcm_buffer.h"
#include "stream/post_stage.h"

namespace oskavi {

class FrameWindowSink;

struct StreamingSummary {
    uint64_t input_frames = 0;          // the reader's total frames
    uint64_t ac3_frames = 0;            // AC-3 frames written
    uint64_t delivered_frames = 0;      // 48 kHz frames delivered to the encoder
    uint32_t peak_workspace_bytes = 0;  // most bytes held in sample buffers at once
    uint64_t nan_samples = 0;           // NaN input samples read as 0.0 (every pass reads the same)
};

// (label, frames read so far, total frames) of one pass.
using StreamProgress = std::function<void(const std::string& label, uint64_t done, uint64_t total)>;

// Header facts of the input, as the streaming reader reports them.
struct StreamInput {
    std::string path;
    uint32_t sample_rate = 0;
    uint32_t channels = 0;
    ChannelLayout layout = ChannelLayout::Unknown;
    uint64_t total_frames = 0;
};

StreamInput read_stream_header(const std::string& path);

// Surround scale of the 7.1 fold's peak guard: 1/peak of the folded
// surrounds when that peak exceeds 1.0, else 1.0. Reads the file once,
// without progress reports.
float analyse_rear_fold(const StreamInput& input, const PreprocessSettings& options);

// One pass over the file, re-opened and read from the start in 4096-frame
// blocks: 7.1 fold (surrounds times `surround_scale`), rate stage, then the
// post stage (bass step when `bass_processing`, LFE times `lfe_scale` and
// 120 Hz low-pass). Every 48 kHz frame goes to `sink`, or nowhere when it is
// null. Progress, when given, is reported per block and once at the end.
StreamPassStats run_preprocess_pass(const StreamInput& input, const PreprocessSettings& options, float surround_scale,
                                    bool bass_processing, float lfe_scale, const std::string& label,
                                    const StreamProgress& progress, FrameWindowSink* sink);

// The whole route. Nothing is written before the analysis passes succeed;
// the output file is then created and filled.
StreamingSummary encode_wav_streaming_preprocess(const std::string& input_path, const std::string& output_path,
                                                 const EncoderSettings& encoder, const PreprocessSettings& options,
                                                 const StreamProgress& progress);

}  // namespace oskavi
