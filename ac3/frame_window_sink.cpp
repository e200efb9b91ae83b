#include "ac3/frame_window_sink.h"

#include <algorithm>
#include <utility>

namespace oskavi {

FrameWindowSink::FrameWindowSink(Ac3OutputFile& out, uint32_t channels, ChannelLayout layout,
                                 const EncoderSettings& options)
    : channels_(channels),
      layout_(layout),
      drc_(options.line_drc, options.rf_drc, options.dialnorm_db),
      history_(static_cast<size_t>(kSamplesPerBlock) * channels, 0.0f),
      encoder_(out, options) {
    pending_.reserve(static_cast<size_t>(kSamplesPerFrame) * channels);
}

void FrameWindowSink::push(std::span<const float> interleaved) {
    const size_t frame_floats = static_cast<size_t>(kSamplesPerFrame) * channels_;
    while (!interleaved.empty()) {
        const size_t take = std::min(interleaved.size(), frame_floats - pending_.size());
        pending_.insert(pending_.end(), interleaved.begin(), interleaved.begin() + static_cast<std::ptrdiff_t>(take));
        interleaved = interleaved.subspan(take);
        if (pending_.size() == frame_floats) emit();
    }
}

void FrameWindowSink::emit() {
    FrameWindow window;
    window.sample_rate = 48000;
    window.channels = channels_;
    window.layout = layout_;
    // History, then the pending frames, then zeros up to a whole window.
    const size_t window_floats = static_cast<size_t>(kFrameWindowFrames) * channels_;
    window.samples.reserve(window_floats);
    window.samples.assign(history_.begin(), history_.end());
    window.samples.insert(window.samples.end(), pending_.begin(), pending_.end());
    window.samples.resize(window_floats, 0.0f);
    // The next window's history is this window's last 256 frames.
    const auto tail = window.samples.end() - static_cast<std::ptrdiff_t>(history_.size());
    std::copy(tail, window.samples.end(), history_.begin());

    FrameExtras extras;
    if (drc_.active()) extras.gains = drc_.next_frame(pending_, channels_);
    pending_.clear();
    encoder_.submit(FrameJob{std::move(window), extras});
}

void FrameWindowSink::finish() {
    if (!pending_.empty()) emit();
    encoder_.finish();
}

uint32_t FrameWindowSink::workspace_bytes() const {
    const size_t floats = history_.capacity() + pending_.capacity() + static_cast<size_t>(kFrameWindowFrames) * channels_;
    return static_cast<uint32_t>(4 * floats);
}

}  // namespace oskavi
