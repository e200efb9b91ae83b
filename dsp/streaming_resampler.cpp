#include "dsp/streaming_resampler.h"

#include <algorithm>
#include <stdexcept>

namespace oskavi {
namespace {

// Frames the window may drop after an output: none before the half-band
// output j's frame 2j - 31 or the polyphase base - 23 is needed again, and
// the margins keep the window bounded by one block plus the filter span.
constexpr int64_t kHalfbandKeep = 34;
constexpr int64_t kPolyphaseKeep = 25;

}  // namespace

void InputWindow::append(std::span<const float> interleaved) {
    samples_.insert(samples_.end(), interleaved.begin(), interleaved.end());
    received_ += interleaved.size() / channels_;
}

double InputWindow::at(int64_t frame, uint32_t channel) const {
    if (frame < 0 || static_cast<uint64_t>(frame) >= received_) return 0.0;
    const uint64_t offset = static_cast<uint64_t>(frame) - first_held_;
    return samples_[head_ + offset * channels_ + channel];
}

void InputWindow::drop_before(int64_t frame) {
    if (frame <= 0 || static_cast<uint64_t>(frame) <= first_held_) return;
    const uint64_t until = std::min<uint64_t>(static_cast<uint64_t>(frame), received_);
    head_ += (until - first_held_) * channels_;
    first_held_ = until;
    // Compact once the dropped prefix outgrows the live part: amortised O(1).
    if (head_ > samples_.size() - head_) {
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void InputWindow::release() {
    first_held_ = received_;
    head_ = 0;
    std::vector<float>().swap(samples_);
}

StreamingHalfband::StreamingHalfband(uint32_t channels)
    : channels_(channels), taps_(halfband_taps()), window_(channels), frame_(channels) {}

void StreamingHalfband::produce(const ResampledFrameSink& sink) {
    const auto j = static_cast<int64_t>(next_);
    const auto dot = [](std::span<const double> h, int64_t first, const auto& x) { return halfband_dot(h, first, x); };
    for (uint32_t c = 0; c < channels_; ++c)
        frame_[c] = windowed_dot(window_, channels_, c, taps_, 2 * j - kHalfbandCentre, dot);
    ++next_;
    window_.drop_before(2 * j - kHalfbandKeep);
    sink(frame_);
}

void StreamingHalfband::push(std::span<const float> interleaved, const ResampledFrameSink& sink) {
    window_.append(interleaved);
    while (window_.received() > 2 * next_ + static_cast<uint64_t>(kHalfbandCentre)) produce(sink);
}

void StreamingHalfband::finish(const ResampledFrameSink& sink) {
    const uint64_t total_out = window_.received() / 2;
    while (next_ < total_out) produce(sink);
    window_.release();
}

StreamingPolyphase::StreamingPolyphase(uint32_t channels, uint32_t input_rate, uint32_t output_rate)
    : channels_(channels),
      bank_(design_polyphase_bank(input_rate, output_rate)),
      window_(channels),
      frame_(channels) {}

void StreamingPolyphase::produce(const ResampledFrameSink& sink) {
    const uint64_t position = next_ * bank_.down;
    const auto base = static_cast<int64_t>(position / bank_.up);
    const std::vector<double>& h = bank_.phases[position % bank_.up];
    const auto dot = [](std::span<const double> taps, int64_t first, const auto& x) {
        return polyphase_dot(taps, first, x);
    };
    for (uint32_t c = 0; c < channels_; ++c)
        frame_[c] = windowed_dot(window_, channels_, c, h, base - kPolyphaseCentre, dot);
    ++next_;
    window_.drop_before(base - kPolyphaseKeep);
    sink(frame_);
}

void StreamingPolyphase::push(std::span<const float> interleaved, const ResampledFrameSink& sink) {
    window_.append(interleaved);
    while (window_.received() > next_ * bank_.down / bank_.up + static_cast<uint64_t>(kPolyphaseCentre))
        produce(sink);
}

void StreamingPolyphase::finish(const ResampledFrameSink& sink) {
    const uint64_t total_out = window_.received() * bank_.up / bank_.down;
    while (next_ < total_out) produce(sink);
    window_.release();
}

StreamingResampler::StreamingResampler(uint32_t input_rate, uint32_t channels) : channels_(channels) {
    switch (input_rate) {
        case 48000: break;
        case 192000: second_halfband_ = std::make_unique<StreamingHalfband>(channels); [[fallthrough]];
        case 96000: first_halfband_ = std::make_unique<StreamingHalfband>(channels); break;
        case 44100:
        case 88200:
        case 176400: polyphase_ = std::make_unique<StreamingPolyphase>(channels, input_rate, 48000); break;
        default: throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    }
}

void StreamingResampler::push(std::span<const float> interleaved, const ResampledFrameSink& sink) {
    if (polyphase_) {
        polyphase_->push(interleaved, sink);
    } else if (second_halfband_) {
        first_halfband_->push(interleaved, [&](std::span<const float> frame) { second_halfband_->push(frame, sink); });
    } else if (first_halfband_) {
        first_halfband_->push(interleaved, sink);
    } else {
        for (size_t i = 0; i < interleaved.size(); i += channels_) sink(interleaved.subspan(i, channels_));
    }
}

void StreamingResampler::finish(const ResampledFrameSink& sink) {
    if (polyphase_) {
        polyphase_->finish(sink);
    } else if (second_halfband_) {
        first_halfband_->finish([&](std::span<const float> frame) { second_halfband_->push(frame, sink); });
        second_halfband_->finish(sink);
    } else if (first_halfband_) {
        first_halfband_->finish(sink);
    }
}

size_t StreamingResampler::window_floats() const {
    size_t floats = 0;
    if (first_halfband_) floats += first_halfband_->window_floats();
    if (second_halfband_) floats += second_halfband_->window_floats();
    if (polyphase_) floats += polyphase_->window_floats();
    return floats;
}

size_t StreamingResampler::filter_taps() const {
    size_t taps = 0;
    if (first_halfband_) taps += first_halfband_->filter_taps();
    if (second_halfband_) taps += second_halfband_->filter_taps();
    if (polyphase_) taps += polyphase_->filter_taps();
    return taps;
}

}  // namespace oskavi
