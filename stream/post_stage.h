#pragma once
// The last per-frame step of every streaming pass, on 48 kHz frames leaving
// the rate stage: the bass step and the LFE low-pass of the whole-file chain,
// plus the statistics the analysis passes collect.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ac3/encoder_settings.h"
#include "dsp/preprocess_settings.h"
#include "dsp/bass_management.h"
#include "dsp/streaming_resampler.h"

namespace oskavi {

class FrameWindowSink;

// What one pass saw.
struct StreamPassStats {
    bool non_silent = false;  // some processed sample above 1e-12 in magnitude
    float lfe_peak = 0.0f;    // largest |LFE| after the bass step, before the LFE scale
    double lfe_energy = 0.0;  // sum of LFE^2 at the same point
    uint64_t frames = 0;      // 48 kHz frames that left the rate stage
    // Largest, over the pass's blocks, of 4 x (floats in the input block and
    // the rate stage's windows) + 8 x (taps of the rate stage's filters).
    uint32_t buffer_bytes = 0;
    uint64_t nan_samples = 0;  // NaN input samples the pass read as 0.0

    LfeLevel lfe_level() const { return {lfe_peak, lfe_energy}; }
};

class PostStage {
public:
    // For 6-channel frames: the bass step when `bass_processing` is set (with
    // the sections of options.bass_mode), then the LFE times `lfe_scale`
    // through the 120 Hz low-pass. Other channel counts pass unchanged.
    // `sink` may be null: statistics only.
    PostStage(uint32_t channels, const PreprocessSettings& options, bool bass_processing, float lfe_scale,
              FrameWindowSink* sink);

    // One interleaved frame. Processed frames reach the sink in batches, so
    // flush() must follow the last frame of a pass.
    void process(std::span<const float> frame);
    // Several interleaved frames, each as by process().
    void process_frames(std::span<const float> frames);
    // Hands the frames processed since the last flush to the sink.
    void flush();
    // Frames passed on only as a count: the frame count of the statistics
    // grows, nothing else changes (no sink, no LFE statistics).
    void count_frames(uint64_t frames) { stats_.frames += frames; }

    const StreamPassStats& stats() const { return stats_; }
    StreamPassStats& stats() { return stats_; }

private:
    uint32_t channels_;
    std::optional<BassStage> bass_;
    LfeLowpass lfe_lowpass_;
    LfeLevel lfe_level_;
    float lfe_scale_;
    FrameWindowSink* sink_;
    StreamPassStats stats_;
    std::array<float, 8> frame_{};
    std::vector<float> batch_;  // room for one batch of frames
    std::size_t batched_ = 0;   // floats of batch_ not yet pushed to the sink
};

}  // namespace oskavi

namespace oskavi {

// The 48 kHz side of one streaming pass: the rate stage for the input rate
// feeding the post stage, and the pass's buffer accounting.
class PassPipeline {
public:
    PassPipeline(uint32_t input_rate, uint32_t channels, const PreprocessSettings& options, bool bass_processing,
                 float lfe_scale, FrameWindowSink* sink);

    // One block at the input rate. `read_floats` is the size of the block as
    // the reader delivered it; the workspace counts it with the rate stage's
    // windows and filter taps.
    void push(std::span<const float> block, std::size_t read_floats);
    // Frames appended after the input (not counted as a block read).
    void push_tail(std::span<const float> frames);
    // End of input: flushes both stages; the statistics of the pass.
    StreamPassStats finish();

    // For a pass without a sink that needs of its statistics only whether
    // some sample is non-silent, the frame count and the workspace: once a
    // non-silent sample has been seen, later frames are only counted through
    // the rate stage (whose window accounting runs on unchanged) and no longer
    // filtered. The LFE statistics then stop short.
    void settle_once_non_silent() { settle_ = true; }
    // Settled and past a non-silent sample: the frames of a block matter
    // only by their count.
    bool counting_only() const { return counting_; }
    // A block of `frames` frames that a settled pass counts without its
    // samples; `read_floats` as for push.
    void push_counted(uint64_t frames, std::size_t read_floats);

private:
    void note_workspace(std::size_t read_floats);

    uint32_t channels_;
    StreamingResampler rate_stage_;
    PostStage post_;
    bool settle_ = false;
    bool counting_ = false;  // settled: frames only counted from here on
    uint64_t peak_bytes_ = 0;
};

}  // namespace oskavi
