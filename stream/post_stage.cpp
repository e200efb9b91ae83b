#include "stream/post_stage.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "ac3/frame_window_sink.h"

namespace oskavi {
namespace {

constexpr uint32_t kLfe = 3;
// Frames handed to the sink at once: one AC-3 frame's worth, so the sink
// copies whole runs instead of being called per 48 kHz frame.
constexpr std::size_t kBatchFrames = 1536;

}  // namespace

PostStage::PostStage(uint32_t channels, const PreprocessSettings& options, bool bass_processing, float lfe_scale,
                     FrameWindowSink* sink)
    : channels_(channels), lfe_scale_(lfe_scale), sink_(sink) {
    if (bass_processing && channels == 6 && options.bass_mode != BassMode::None) bass_.emplace(options);
    if (sink_ != nullptr) batch_.resize(kBatchFrames * channels);
}

void PostStage::process(std::span<const float> input) {
    // Processed in place in the next batch slot (or scratch without a sink).
    float* slot = sink_ != nullptr ? batch_.data() + batched_ : frame_.data();
    const std::span<float> frame(slot, channels_);
    // A plain loop: a library copy call would cost more than the few floats.
    for (std::size_t c = 0; c < channels_; ++c) frame[c] = input[c];
    if (channels_ == 6) {
        if (bass_) bass_->process_frame(frame.first<6>());
        lfe_level_.add(frame[kLfe]);
        frame[kLfe] = lfe_lowpass_.process(frame[kLfe] * lfe_scale_);
    }
    // Same threshold, compared in float, as the encoder's silence test.
    if (!stats_.non_silent)
        stats_.non_silent = std::any_of(frame.begin(), frame.end(), [](float s) { return std::fabs(s) > 1e-12f; });
    stats_.lfe_peak = lfe_level_.peak;
    stats_.lfe_energy = lfe_level_.energy;
    ++stats_.frames;
    if (sink_ == nullptr) return;
    batched_ += channels_;
    if (batched_ == batch_.size()) flush();
}

void PostStage::process_frames(std::span<const float> frames) {
    const std::size_t count = frames.size() / channels_;
    if (channels_ == 6) {
        for (std::size_t i = 0; i < count; ++i) process(frames.subspan(i * 6, 6));
        return;
    }
    // Other layouts pass unchanged: what process() does frame by frame, for
    // the whole run at once.
    frames = frames.first(count * channels_);
    if (!stats_.non_silent)
        stats_.non_silent = std::any_of(frames.begin(), frames.end(), [](float s) { return std::fabs(s) > 1e-12f; });
    stats_.lfe_peak = lfe_level_.peak;
    stats_.lfe_energy = lfe_level_.energy;
    stats_.frames += count;
    // The run goes to the sink as it is, after any frames process() batched:
    // the sink gathers its frames anyway.
    if (sink_ == nullptr) return;
    flush();
    sink_->push(frames);
}

void PostStage::flush() {
    if (sink_ == nullptr || batched_ == 0) return;
    sink_->push(std::span<const float>(batch_.data(), batched_));
    batched_ = 0;
}

}  // namespace oskavi

namespace oskavi {

PassPipeline::PassPipeline(uint32_t input_rate, uint32_t channels, const PreprocessSettings& options,
                           bool bass_processing, float lfe_scale, FrameWindowSink* sink)
    : channels_(channels),
      rate_stage_(input_rate, channels),
      post_(channels, options, bass_processing, lfe_scale, sink) {}

void PassPipeline::push(std::span<const float> block, std::size_t read_floats) {
    push_tail(block);
    note_workspace(read_floats);
}

void PassPipeline::note_workspace(std::size_t read_floats) {
    peak_bytes_ = std::max<uint64_t>(
        peak_bytes_, 4 * (read_floats + rate_stage_.window_floats()) + 8 * rate_stage_.filter_taps());
}

void PassPipeline::push_counted(uint64_t frames, std::size_t read_floats) {
    post_.count_frames(rate_stage_.push_count(frames));
    note_workspace(read_floats);
}

void PassPipeline::push_tail(std::span<const float> frames) {
    if (counting_) {
        post_.count_frames(rate_stage_.push_count(frames.size() / channels_));
        return;
    }
    rate_stage_.push(frames, [this](std::span<const float> run) { post_.process_frames(run); });
    counting_ = settle_ && post_.stats().non_silent;
}

StreamPassStats PassPipeline::finish() {
    if (counting_) {
        post_.count_frames(rate_stage_.finish_count());
    } else {
        rate_stage_.finish([this](std::span<const float> run) { post_.process_frames(run); });
    }
    post_.flush();
    StreamPassStats stats = post_.stats();
    stats.buffer_bytes = static_cast<uint32_t>(peak_bytes_);
    return stats;
}

}  // namespace oskavi
