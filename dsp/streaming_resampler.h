#pragma once
// Streaming form of the 48 kHz rate conversion: the same half-band and
// polyphase filters as dsp/sample_rate_conversion.h, evaluated over a sliding
// window of received input frames. Input arrives in blocks of any size; the
// outputs come out in order, in batches once enough of them have all the
// input they reach (the rest at the end of the input), and the window drops
// the frames no later output can need. The samples equal those of the
// one-at-a-time dot products of dsp/sample_rate_conversion.h whatever the
// block sizes.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "dsp/sample_rate_conversion.h"

namespace oskavi {

// Receives finished output frames: a run of whole interleaved frames, in
// order, as many as each push or finish produced (none are withheld).
using ResampledFrameSink = std::function<void(std::span<const float> frames)>;

// One FIR rate stage: output n is centred on input time n * down / up and
// reads input frames floor(n * down / up) - centre .. + centre (0.0 before
// the input and, once it has ended, past it) through the taps of phase
// (n * down) mod up.
//
// Input frame f is held, per channel, in row f mod down at column
// f / down, as double. Outputs n = up * m + r then read, for every tap, one
// fixed row at column m plus a fixed offset: the outputs of consecutive
// periods m of one r form a run that fir_rows computes side by side. A period
// is produced once every frame its last output reaches has arrived.
class StreamingFir {
public:
    // `phases[p]` are the taps of phase p; taps below `negligible` in
    // magnitude are left out of every sum (they contribute nothing).
    StreamingFir(uint32_t channels, uint64_t up, uint64_t down, int64_t centre, int64_t keep,
                 const std::vector<std::vector<double>>& phases, double negligible);

    // Appends interleaved input frames and the finished outputs to `out`.
    void push(std::span<const float> interleaved, std::vector<float>& out);
    // End of input: the outputs up to floor(total * up / down).
    void finish(std::vector<float>& out);

    // The same without samples, for a caller that needs only how many outputs
    // come out: `frames` input frames arrive; returns the outputs push would
    // have appended. The counters (and so window_floats) move exactly as
    // with samples. Once counting, a stage takes no more samples.
    uint64_t push_count(uint64_t frames);
    // End of input when counting: the outputs finish would have appended.
    uint64_t finish_count();

    // Threads that filter the channels of each batch side by side (1 by
    // default); the outputs are the same for any number.
    void set_threads(uint32_t threads) { threads_ = threads; }

    // Floats of the frames a one-output-at-a-time window would still hold:
    // those from the earliest frame the next ready output's filter (less
    // `keep`) reaches; none after finish.
    size_t window_floats() const;

private:
    struct TapRef {
        uint64_t row;
        int64_t column;  // relative to the output's period
    };

    // Row `index` is row index % down of channel index / down.
    const double* row_data(size_t index) const;
    double* row_data(size_t index);
    double* extend_row(size_t index, size_t count);
    void reserve_row_length(uint32_t c, size_t length);
    void append_frame(const float* frame);
    void append_block(std::span<const float> interleaved);
    void append_channel(uint32_t c, std::span<const float> interleaved);
    void produce(uint64_t periods, std::vector<float>& out);
    // Channel c's outputs of the next `count` periods, in output order.
    void produce_channel(uint32_t c, uint64_t count, std::vector<float>& outputs) const;
    void drop_columns_before(int64_t column);
    void note_ready_outputs();
    uint64_t periods_to_produce() const;
    void release();

    uint32_t channels_;
    uint64_t up_;
    uint64_t down_;
    int64_t centre_;
    int64_t keep_;
    std::vector<std::vector<TapRef>> refs_;   // per output phase r, taps that count
    std::vector<std::vector<double>> taps_;   // per output phase r, matching refs_
    size_t tap_count_ = 0;                    // taps of all phases
    int64_t last_reach_;                      // frame offset the period's last output reaches
    int64_t earliest_column_;                 // most negative column any tap reads
    // The input frames dealt to rows by frame mod down: the down rows of a
    // channel in one store, `pitch` doubles apart.
    struct ChannelRows {
        std::vector<double> store;
        size_t pitch = 0;
        // Per tap of every phase, phase after phase: where its row holds the
        // frame at column earliest_column_ + the tap's column, from which a
        // period's column counts (made again whenever the store moves).
        std::vector<const double*> tap_rows;
    };
    std::vector<ChannelRows> channel_rows_;
    std::vector<size_t> lengths_;             // doubles in use in each row, channel * down + row
    int64_t first_column_;                    // column of each row's first double
    uint64_t received_ = 0;
    uint64_t next_period_ = 0;
    uint64_t produced_ = 0;
    uint64_t first_held_ = 0;
    bool released_ = false;
    uint32_t threads_ = 1;
    std::vector<std::vector<float>> planar_;  // per channel, outputs of the batch being produced
};

// 2:1 decimation with the 63-tap half-band filter (output j centred on input
// frame 2j), 1:1 at the other end of the chain.
StreamingFir make_halfband_stage(uint32_t channels);
// Rational up/down resampling with the 47-tap polyphase bank.
StreamingFir make_polyphase_stage(uint32_t channels, uint32_t input_rate, uint32_t output_rate);

// The rate stage for any supported input rate: nothing at 48 kHz, one
// half-band stage at 96 kHz, two in series at 192 kHz, the polyphase stage for
// the 44.1 kHz family. Throws "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz".
class StreamingResampler {
public:
    StreamingResampler(uint32_t input_rate, uint32_t channels);

    void push(std::span<const float> interleaved, const ResampledFrameSink& sink);
    // End of input; a 192 kHz chain finishes its first stage, then its second.
    void finish(const ResampledFrameSink& sink);
    // The same, appending the output frames to `out`.
    void push(std::span<const float> interleaved, std::vector<float>& out);
    void finish(std::vector<float>& out);

    // Output frames the stages would hand on for `frames` input frames, and
    // at the end of input, without filtering (see StreamingFir::push_count).
    uint64_t push_count(uint64_t frames);
    uint64_t finish_count();

    // Threads that filter the channels side by side in every stage.
    void set_threads(uint32_t threads);

    // Floats held in the stages' windows, and taps of their filters.
    size_t window_floats() const;
    size_t filter_taps() const;

private:
    void hand_on(const ResampledFrameSink& sink);

    uint32_t channels_;
    size_t filter_taps_ = 0;
    std::vector<StreamingFir> stages_;
    std::vector<float> between_;  // first half-band stage's outputs at 192 kHz
    std::vector<float> out_;
};

}  // namespace oskavi
