#include "dsp/streaming_resampler.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dsp/channel_tasks.h"
#include "dsp/fir_rows.h"

namespace oskavi {
namespace {

// Frames a one-output-at-a-time window drops after output n: everything
// before floor(n * down / up) less these margins (the half-band output j's
// frame 2j - 31 or the polyphase base - 23 stays, with room to spare). Only
// the reported window size follows them.
constexpr int64_t kHalfbandKeep = 34;
constexpr int64_t kPolyphaseKeep = 25;

// Outputs computed per run of fir_rows: enough to fill the vector lanes and
// spread the setup of a run (one row pointer per tap) over many outputs, few
// enough to keep the scratch small. Periods are held back until this many
// outputs are ready (or the input ends).
constexpr uint64_t kOutputsPerChunk = 16384;
// Periods filtered together by every phase in turn: thirty-two columns (four
// cache lines) of each row, one widest pass of fir_rows.
constexpr uint64_t kTilePeriods = 32;
// Input frames appended to the rows per tile (see append_block).
constexpr uint64_t kAppendTileFrames = 2048;
// Samples of a block below which its channels are appended on one thread.
constexpr size_t kParallelAppendFloats = size_t{1} << 16;
// Doubles in a 4 KiB page and in a 64-byte cache line (see reserve_row_length).
constexpr size_t kPageDoubles = 512;
constexpr size_t kLineDoubles = 8;
// Dropped input frames are compacted away once this many have gathered.
constexpr int64_t kCompactFrames = 4096;

int64_t floor_div(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// dest[n * channels + c] = planar[c][n] for n < outputs; the common channel
// counts with the count known at compile time.
template <uint32_t Channels>
void interleave_fixed(const std::vector<std::vector<float>>& planar, size_t outputs, float* dest) {
    for (size_t n = 0; n < outputs; ++n)
        for (uint32_t c = 0; c < Channels; ++c) *dest++ = planar[c][n];
}

// dest[i] = source[i * Stride] as a double, for i < count: with the stride
// known at compile time the loop runs in vectors.
template <size_t Stride>
void widen_every(const float* __restrict source, double* __restrict dest, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) dest[i] = static_cast<double>(source[i * Stride]);
}

// The same for any stride; the half-band strides of mono, stereo, 5.1 and
// 7.1 (two frames of 1, 2, 6 or 8 channels) in vectors.
void widen_strided(const float* source, size_t stride, double* dest, uint64_t count) {
    switch (stride) {
        case 2: widen_every<2>(source, dest, count); return;
        case 4: widen_every<4>(source, dest, count); return;
        case 12: widen_every<12>(source, dest, count); return;
        case 16: widen_every<16>(source, dest, count); return;
        default: break;
    }
    for (uint64_t i = 0; i < count; ++i) dest[i] = static_cast<double>(source[i * stride]);
}

void interleave(const std::vector<std::vector<float>>& planar, uint32_t channels, size_t outputs, float* dest) {
    switch (channels) {
        case 1: interleave_fixed<1>(planar, outputs, dest); return;
        case 2: interleave_fixed<2>(planar, outputs, dest); return;
        case 6: interleave_fixed<6>(planar, outputs, dest); return;
        case 8: interleave_fixed<8>(planar, outputs, dest); return;
        default: break;
    }
    for (size_t n = 0; n < outputs; ++n)
        for (uint32_t c = 0; c < channels; ++c) *dest++ = planar[c][n];
}

}  // namespace

StreamingFir::StreamingFir(uint32_t channels, uint64_t up, uint64_t down, int64_t centre, int64_t keep,
                           const std::vector<std::vector<double>>& phases, double negligible)
    : channels_(channels), up_(up), down_(down), centre_(centre), keep_(keep), refs_(up), taps_(up) {
    const auto d = static_cast<int64_t>(down);
    earliest_column_ = floor_div(-centre, d);
    for (uint64_t r = 0; r < up; ++r) {
        // Output r of a period: base floor(r * down / up), phase (r * down) mod up.
        const auto base = static_cast<int64_t>(r * down / up);
        const std::vector<double>& h = phases[(r * down) % up];
        for (size_t k = 0; k < h.size(); ++k) {
            if (std::fabs(h[k]) < negligible) continue;
            const int64_t offset = base - centre + static_cast<int64_t>(k);
            const int64_t column = floor_div(offset, d);
            refs_[r].push_back({static_cast<uint64_t>(offset - column * d), column});
            taps_[r].push_back(h[k]);
            ++tap_count_;
        }
    }
    last_reach_ = static_cast<int64_t>((up - 1) * down / up) + centre;
    // Frames before the input read as 0.0: zero columns in front of column 0.
    first_column_ = earliest_column_;
    lengths_.assign(static_cast<size_t>(channels) * down, static_cast<size_t>(-earliest_column_));
    channel_rows_.resize(channels);
    for (uint32_t c = 0; c < channels; ++c) reserve_row_length(c, lengths_[0]);
}

void StreamingFir::reserve_row_length(uint32_t c, size_t length) {
    ChannelRows& rows = channel_rows_[c];
    if (length <= rows.pitch) return;
    // A pitch of whole 4 KiB pages plus one cache line: neighbouring rows,
    // which the filter reads together, start in neighbouring sets of the
    // first-level cache instead of competing for the same few.
    const size_t wanted = std::max(2 * rows.pitch, length);
    const size_t pitch = (wanted + kPageDoubles - 1) / kPageDoubles * kPageDoubles + kLineDoubles;
    std::vector<double> store(pitch * down_, 0.0);
    for (uint64_t row = 0; row < down_; ++row) {
        const double* old = rows.store.data() + row * rows.pitch;
        std::copy(old, old + (rows.pitch == 0 ? 0 : lengths_[c * down_ + row]), store.begin() + row * pitch);
    }
    rows.store = std::move(store);
    rows.pitch = pitch;
    rows.tap_rows.clear();
    rows.tap_rows.reserve(tap_count_);
    for (uint64_t r = 0; r < up_; ++r) {
        for (const TapRef& ref : refs_[r]) {
            const auto column = static_cast<size_t>(ref.column - earliest_column_);
            rows.tap_rows.push_back(rows.store.data() + ref.row * pitch + column);
        }
    }
}

const double* StreamingFir::row_data(size_t index) const {
    const ChannelRows& rows = channel_rows_[index / down_];
    return rows.store.data() + (index % down_) * rows.pitch;
}

double* StreamingFir::row_data(size_t index) {
    ChannelRows& rows = channel_rows_[index / down_];
    return rows.store.data() + (index % down_) * rows.pitch;
}

double* StreamingFir::extend_row(size_t index, size_t count) {
    const size_t length = lengths_[index];
    reserve_row_length(static_cast<uint32_t>(index / down_), length + count);
    lengths_[index] = length + count;
    return row_data(index) + length;
}

void StreamingFir::append_frame(const float* frame) {
    const uint64_t row = received_ % down_;
    for (uint32_t c = 0; c < channels_; ++c) *extend_row(c * down_ + row, 1) = static_cast<double>(frame[c]);
    ++received_;
}

void StreamingFir::produce(uint64_t periods, std::vector<float>& out) {
    const uint64_t chunk = std::max<uint64_t>(1, kOutputsPerChunk / up_);
    planar_.resize(channels_);
    while (periods > 0) {
        const uint64_t count = std::min(chunk, periods);
        // Each channel is filtered into its own run of outputs (threads
        // writing neighbouring floats of one buffer would share cache lines),
        // then the runs are interleaved.
        for_each_channel(channels_, threads_, [&](uint32_t c) { produce_channel(c, count, planar_[c]); });
        const size_t first_float = out.size();
        const size_t outputs = count * up_;
        out.resize(first_float + outputs * channels_);
        interleave(planar_, channels_, outputs, out.data() + first_float);
        next_period_ += count;
        produced_ += count * up_;
        periods -= count;
    }
    drop_columns_before(static_cast<int64_t>(next_period_) + earliest_column_);
}

void StreamingFir::produce_channel(uint32_t c, uint64_t count, std::vector<float>& outputs) const {
    // The batch's first period, as a column counted from each tap's row start
    // (never negative: the rows keep every frame from the period's earliest
    // column on).
    const auto column = static_cast<size_t>(static_cast<int64_t>(next_period_) + earliest_column_ - first_column_);
    outputs.resize(count * up_);
    const std::span<const double* const> tap_rows(channel_rows_[c].tap_rows);
    // A tile of periods at a time, every phase of it: the tile's few columns
    // of the rows stay in the first-level cache from one phase to the next,
    // and its outputs are written straight in output order (period-major).
    const uint64_t tile = up_ == 1 ? count : kTilePeriods;
    for (uint64_t first = 0; first < count; first += tile) {
        const uint64_t periods = std::min(tile, count - first);
        size_t next = 0;
        for (uint64_t r = 0; r < up_; ++r) {
            const FirRun run{tap_rows.subspan(next, refs_[r].size()), taps_[r], column + static_cast<size_t>(first)};
            fir_rows(run, static_cast<size_t>(periods), outputs.data() + first * up_ + r, static_cast<size_t>(up_));
            next += refs_[r].size();
        }
    }
}

void StreamingFir::drop_columns_before(int64_t column) {
    const int64_t dropped = column - first_column_;
    if (dropped * static_cast<int64_t>(down_) < kCompactFrames) return;
    for (size_t i = 0; i < lengths_.size(); ++i) {
        const size_t gone = std::min<size_t>(static_cast<size_t>(dropped), lengths_[i]);
        double* row = row_data(i);
        std::copy(row + gone, row + lengths_[i], row);
        lengths_[i] -= gone;
    }
    first_column_ = column;
}

void StreamingFir::note_ready_outputs() {
    // Outputs n with floor(n * down / up) + centre < received.
    const int64_t last_base = static_cast<int64_t>(received_) - centre_ - 1;
    if (last_base < 0) return;
    const uint64_t ready = (up_ * static_cast<uint64_t>(last_base + 1) + down_ - 1) / down_;
    if (ready == 0) return;
    const int64_t drop = static_cast<int64_t>((ready - 1) * down_ / up_) - keep_;
    if (drop > 0 && static_cast<uint64_t>(drop) > first_held_) first_held_ = std::min<uint64_t>(drop, received_);
}

void StreamingFir::append_block(std::span<const float> interleaved) {
    // Each channel owns its rows, so the channels of a large block are
    // appended side by side (a small one is not worth starting threads for).
    const uint32_t threads = interleaved.size() >= kParallelAppendFloats ? threads_ : 1;
    for_each_channel(channels_, threads, [&](uint32_t c) { append_channel(c, interleaved); });
    received_ += interleaved.size() / channels_;
}

void StreamingFir::append_channel(uint32_t c, std::span<const float> interleaved) {
    const uint64_t frames = interleaved.size() / channels_;
    const uint64_t start_row = received_ % down_;
    // Frame `first + k * down` of the block is the k-th new entry of its row:
    // every row takes frames / down entries, and those whose first frame is
    // below frames % down one more. (No division per row: at 44.1 kHz there
    // are 147 rows.)
    const uint64_t whole = frames / down_;
    const uint64_t extra = frames % down_;
    const auto first_of = [&](uint64_t row) { return row >= start_row ? row - start_row : row + down_ - start_row; };
    const auto entries_of = [&](uint64_t row) { return whole + (first_of(row) < extra ? 1 : 0); };
    // Room for every row first: growing the rows moves them all, and after
    // this they stay put, so a row's new entries end at its length.
    size_t* const lengths = lengths_.data() + c * down_;
    uint64_t longest = 0;
    for (uint64_t row = 0; row < down_; ++row) longest = std::max<uint64_t>(longest, lengths[row] + entries_of(row));
    reserve_row_length(c, static_cast<size_t>(longest));
    for (uint64_t row = 0; row < down_; ++row) lengths[row] += entries_of(row);
    ChannelRows& rows = channel_rows_[c];
    // A tile of periods at a time: the tile's few thousand frames stay in
    // the first-level cache while every row takes its entries from them.
    const uint64_t most = whole + (extra > 0 ? 1 : 0);
    const uint64_t tile = std::max<uint64_t>(8, kAppendTileFrames / down_);
    for (uint64_t k0 = 0; k0 < most; k0 += tile) {
        for (uint64_t row = 0; row < down_; ++row) {
            const uint64_t entries = entries_of(row);
            if (entries <= k0) continue;
            const uint64_t count = std::min(tile, entries - k0);
            double* dest = rows.store.data() + row * rows.pitch + lengths[row] - (entries - k0);
            const float* source = interleaved.data() + (first_of(row) + k0 * down_) * channels_ + c;
            widen_strided(source, static_cast<size_t>(down_ * channels_), dest, count);
        }
    }
}

// Periods to produce now: the whole batches of those whose outputs have
// every frame they reach (the rest wait for more input or its end, so that
// every run of the filter is a full batch long).
uint64_t StreamingFir::periods_to_produce() const {
    if (static_cast<int64_t>(received_) <= last_reach_) return 0;
    const uint64_t ready_periods = (received_ - 1 - static_cast<uint64_t>(last_reach_)) / down_ + 1;
    const uint64_t batch = std::max<uint64_t>(1, kOutputsPerChunk / up_);
    return (ready_periods - next_period_) / batch * batch;
}

void StreamingFir::push(std::span<const float> interleaved, std::vector<float>& out) {
    append_block(interleaved);
    note_ready_outputs();
    const uint64_t periods = periods_to_produce();
    if (periods > 0) produce(periods, out);
}

uint64_t StreamingFir::push_count(uint64_t frames) {
    received_ += frames;
    note_ready_outputs();
    const uint64_t periods = periods_to_produce();
    next_period_ += periods;
    produced_ += periods * up_;
    return periods * up_;
}

uint64_t StreamingFir::finish_count() {
    const uint64_t total = received_ * up_ / down_;
    const uint64_t outputs = total > produced_ ? total - produced_ : 0;
    produced_ += outputs;
    release();
    return outputs;
}

void StreamingFir::release() {
    released_ = true;
    channel_rows_.clear();
    channel_rows_.shrink_to_fit();
    lengths_.clear();
}

void StreamingFir::finish(std::vector<float>& out) {
    const uint64_t total = received_ * up_ / down_;
    if (total > produced_) {
        // Frames past the end read as 0.0: pad up to the last output's reach.
        const uint64_t last_period = (total - 1) / up_;
        const std::vector<float> silence(channels_, 0.0f);
        while (received_ < last_period * down_ + static_cast<uint64_t>(last_reach_) + 1) append_frame(silence.data());
        const size_t first_float = out.size();
        const uint64_t first_output = produced_;
        produce(last_period + 1 - next_period_, out);
        out.resize(first_float + (total - first_output) * channels_);
    }
    release();
}

size_t StreamingFir::window_floats() const {
    if (released_) return 0;
    return static_cast<size_t>(received_ - first_held_) * channels_;
}

StreamingFir make_halfband_stage(uint32_t channels) {
    return StreamingFir(channels, 1, 2, kHalfbandCentre, kHalfbandKeep, {halfband_taps()}, 1e-18);
}

StreamingFir make_polyphase_stage(uint32_t channels, uint32_t input_rate, uint32_t output_rate) {
    const PolyphaseBank bank = design_polyphase_bank(input_rate, output_rate);
    return StreamingFir(channels, bank.up, bank.down, kPolyphaseCentre, kPolyphaseKeep, bank.phases, 0.0);
}

StreamingResampler::StreamingResampler(uint32_t input_rate, uint32_t channels) : channels_(channels) {
    switch (input_rate) {
        case 48000: break;
        case 192000:
            stages_.push_back(make_halfband_stage(channels));
            stages_.push_back(make_halfband_stage(channels));
            filter_taps_ = 2 * kHalfbandTaps;
            break;
        case 96000:
            stages_.push_back(make_halfband_stage(channels));
            filter_taps_ = kHalfbandTaps;
            break;
        case 44100:
        case 88200:
        case 176400: {
            stages_.push_back(make_polyphase_stage(channels, input_rate, 48000));
            filter_taps_ = design_polyphase_bank(input_rate, 48000).up * kPolyphaseTaps;
            break;
        }
        default: throw std::runtime_error("Supported input rates: 44.1/48/88.2/96/176.4/192 kHz");
    }
}

void StreamingResampler::hand_on(const ResampledFrameSink& sink) {
    if (!out_.empty()) sink(out_);
    out_.clear();
}

void StreamingResampler::push(std::span<const float> interleaved, const ResampledFrameSink& sink) {
    if (stages_.empty()) {
        if (!interleaved.empty()) sink(interleaved);
        return;
    }
    push(interleaved, out_);
    hand_on(sink);
}

void StreamingResampler::push(std::span<const float> interleaved, std::vector<float>& out) {
    if (stages_.empty()) {
        out.insert(out.end(), interleaved.begin(), interleaved.end());
    } else if (stages_.size() == 2) {
        stages_[0].push(interleaved, between_);
        stages_[1].push(between_, out);
        between_.clear();
    } else {
        stages_[0].push(interleaved, out);
    }
}

void StreamingResampler::finish(const ResampledFrameSink& sink) {
    finish(out_);
    hand_on(sink);
}

void StreamingResampler::finish(std::vector<float>& out) {
    if (stages_.size() == 2) {
        stages_[0].finish(between_);
        stages_[1].push(between_, out);
        between_.clear();
        stages_[1].finish(out);
    } else if (!stages_.empty()) {
        stages_[0].finish(out);
    }
}

uint64_t StreamingResampler::push_count(uint64_t frames) {
    if (stages_.empty()) return frames;
    if (stages_.size() == 2) return stages_[1].push_count(stages_[0].push_count(frames));
    return stages_[0].push_count(frames);
}

uint64_t StreamingResampler::finish_count() {
    if (stages_.empty()) return 0;
    if (stages_.size() == 2) {
        const uint64_t outputs = stages_[1].push_count(stages_[0].finish_count());
        return outputs + stages_[1].finish_count();
    }
    return stages_[0].finish_count();
}

size_t StreamingResampler::window_floats() const {
    size_t floats = 0;
    for (const StreamingFir& stage : stages_) floats += stage.window_floats();
    return floats;
}

void StreamingResampler::set_threads(uint32_t threads) {
    for (StreamingFir& stage : stages_) stage.set_threads(threads);
}

size_t StreamingResampler::filter_taps() const { return filter_taps_; }

}  // namespace oskavi
