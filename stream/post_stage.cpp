#include "stream/post_stage.h"

#include <algorithm>
#include <cmath>

#include "ac3/frame_window_sink.h"

namespace oskavi {
namespace {

constexpr uint32_t kLfe = 3;

}  // namespace

PostStage::PostStage(uint32_t channels, const PreprocessOptions& options, bool bass_processing, float lfe_scale,
                     FrameWindowSink* sink)
    : channels_(channels), lfe_scale_(lfe_scale), sink_(sink) {
    if (bass_processing && channels == 6 && options.bass_mode != BassMode::None) bass_.emplace(options);
}

void PostStage::process(std::span<const float> input) {
    const std::span<float> frame(frame_.data(), channels_);
    std::copy(input.begin(), input.end(), frame.begin());
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
    if (sink_ != nullptr) sink_->push(frame);
}

}  // namespace oskavi
