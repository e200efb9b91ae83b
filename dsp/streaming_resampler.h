#pragma once
// Streaming form of the 48 kHz rate conversion: the same half-band and
// polyphase filters as dsp/sample_rate_conversion.h, evaluated over a sliding
// window of received input frames. Input arrives in blocks of any size; each
// output frame is handed to the sink as soon as every input frame its filter
// reaches has arrived, and the window drops the frames no later output can
// need. The samples equal those of the whole-file conversion of the same input
// whatever the block sizes.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "dsp/sample_rate_conversion.h"

namespace oskavi {

// Receives one finished output frame (interleaved channels).
using ResampledFrameSink = std::function<void(std::span<const float> frame)>;

// The received input frames from `first_held` on, interleaved. Frames before
// 0 and, once the input has ended, at or beyond its total read as 0.0.
class InputWindow {
public:
    explicit InputWindow(uint32_t channels) : channels_(channels) {}

    void append(std::span<const float> interleaved);
    // Sample of input frame i, channel c; i must not lie before first_held.
    double at(int64_t frame, uint32_t channel) const;
    // True when frames first .. first + count - 1 are all held.
    bool holds(int64_t first, uint32_t count) const {
        return first >= 0 && static_cast<uint64_t>(first) >= first_held_ && static_cast<uint64_t>(first) + count <= received_;
    }
    // Channel `channel` of held frame `frame`; successive frames lie `channels` floats apart.
    const float* held(int64_t frame, uint32_t channel) const {
        return &samples_[head_ + (static_cast<uint64_t>(frame) - first_held_) * channels_ + channel];
    }
    // Forgets the frames before `frame` (no effect on frames not yet held).
    void drop_before(int64_t frame);
    void release();

    uint64_t received() const { return received_; }
    size_t floats() const { return samples_.size() - head_; }

private:
    uint32_t channels_;
    std::vector<float> samples_;  // dropped floats [0, head_) are compacted lazily
    size_t head_ = 0;
    uint64_t first_held_ = 0;
    uint64_t received_ = 0;
};

// 2:1 decimation with the 63-tap half-band filter; output j is centred on
// input frame 2j and is released once input frame 2j + 31 has arrived.
// One output sample over input frames first .. first + taps - 1 of a
// channel: straight from the window when all of them are held, else through
// InputWindow::at, which reads 0.0 beyond either end of the input.
template <typename Dot>
float windowed_dot(const InputWindow& window, uint32_t channels, uint32_t channel, std::span<const double> taps,
                   int64_t first, const Dot& dot) {
    if (window.holds(first, static_cast<uint32_t>(taps.size()))) {
        const float* x = window.held(first, channel);
        return dot(taps, first, [&](int64_t i) { return static_cast<double>(x[(i - first) * channels]); });
    }
    return dot(taps, first, [&](int64_t i) { return window.at(i, channel); });
}

class StreamingHalfband {
public:
    explicit StreamingHalfband(uint32_t channels);

    void push(std::span<const float> interleaved, const ResampledFrameSink& sink);
    // End of input: the outputs up to floor(total / 2), zeros past the end.
    void finish(const ResampledFrameSink& sink);

    size_t window_floats() const { return window_.floats(); }
    size_t filter_taps() const { return kHalfbandTaps; }

private:
    void produce(const ResampledFrameSink& sink);

    uint32_t channels_;
    const std::vector<double>& taps_;
    InputWindow window_;
    std::vector<float> frame_;
    uint64_t next_ = 0;
};

// Rational up/down resampling with the 47-tap polyphase bank; output n is
// aligned with input time n * down / up and is released once input frame
// floor(n * down / up) + 23 has arrived.
class StreamingPolyphase {
public:
    StreamingPolyphase(uint32_t channels, uint32_t input_rate, uint32_t output_rate);

    void push(std::span<const float> interleaved, const ResampledFrameSink& sink);
    // End of input: the outputs up to floor(total * up / down), zeros past the end.
    void finish(const ResampledFrameSink& sink);

    size_t window_floats() const { return window_.floats(); }
    size_t filter_taps() const { return bank_.up * kPolyphaseTaps; }

private:
    void produce(const ResampledFrameSink& sink);

    uint32_t channels_;
    PolyphaseBank bank_;
    InputWindow window_;
    std::vector<float> frame_;
    uint64_t next_ = 0;
};

// The rate stage for any supported input rate: nothing at 48 kHz, one
// half-band stage at 96 kHz, two in series at 192 kHz, the polyphase stage for
// the 44.1 kHz family. Throws "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz".
class StreamingResampler {
public:
    StreamingResampler(uint32_t input_rate, uint32_t channels);

    void push(std::span<const float> interleaved, const ResampledFrameSink& sink);
    // End of input; a 192 kHz chain finishes its first stage, then its second.
    void finish(const ResampledFrameSink& sink);

    // Floats held in the stages' windows, and taps of their filters.
    size_t window_floats() const;
    size_t filter_taps() const;

private:
    uint32_t channels_;
    std::unique_ptr<StreamingHalfband> first_halfband_;
    std::unique_ptr<StreamingHalfband> second_halfband_;
    std::unique_ptr<StreamingPolyphase> polyphase_;
};

}  // namespace oskavi
