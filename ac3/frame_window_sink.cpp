#include "ac3/frame_window_sink.h"

#include <algorithm>
#include <utility>

namespace oskavi {

FrameWindowSink::FrameWindowSink(Ac3OutputFile& out, uint32_t channels, ChannelLayout layout,
                                 const EncoderSettings& options)
    : channels_(channels),
      layout_(layout),
      drc_(options.line_drc, options.rf_drc, options.dialnorm_db),
      encoder_(out, options) {
    window_.reserve(window_floats());
    window_.assign(history_floats(), 0.0f);
}

std::size_t FrameWindowSink::history_floats() const { return static_cast<std::size_t>(kSamplesPerBlock) * channels_; }

std::size_t FrameWindowSink::window_floats() const {
    return static_cast<std::size_t>(kFrameWindowFrames) * channels_;
}

void FrameWindowSink::push(std::span<const float> interleaved) {
    while (!interleaved.empty()) {
        const size_t take = std::min(interleaved.size(), window_floats() - window_.size());
        window_.insert(window_.end(), interleaved.begin(), interleaved.begin() + static_cast<std::ptrdiff_t>(take));
        interleaved = interleaved.subspan(take);
        if (window_.size() == window_floats()) emit();
    }
}

void FrameWindowSink::emit() {
    const std::span<const float> pending(window_.data() + history_floats(), window_.size() - history_floats());
    FrameExtras extras;
    if (drc_.active()) extras.gains = drc_.next_frame(pending, channels_);
    // History, then the pending frames, then zeros up to a whole window; the
    // next window's history is this window's last 256 frames.
    window_.resize(window_floats(), 0.0f);
    std::vector<float> next;
    next.reserve(window_floats());
    next.assign(window_.end() - static_cast<std::ptrdiff_t>(history_floats()), window_.end());

    FrameWindow window;
    window.sample_rate = 48000;
    window.channels = channels_;
    window.layout = layout_;
    window.samples = std::exchange(window_, std::move(next));
    encoder_.submit(FrameJob{std::move(window), extras});
}

void FrameWindowSink::finish() {
    if (window_.size() > history_floats()) emit();
    encoder_.finish();
}

uint32_t FrameWindowSink::workspace_bytes() const {
    const size_t floats = history_floats() + static_cast<size_t>(kSamplesPerFrame) * channels_ + window_floats();
    return static_cast<uint32_t>(4 * floats);
}

}  // namespace oskavi
