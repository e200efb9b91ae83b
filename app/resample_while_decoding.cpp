#include "app/resample_while_decoding.h"

#include <algorithm>
#include <new>
#include <vector>

#include "dsp/sample_rate_conversion.h"

namespace oskavi {
namespace {

// Room set aside for the output on the word of STREAMINFO, at most this many
// floats (a longer stream still grows the buffer).
constexpr uint64_t kMaxReservedFloats = uint64_t{1} << 26;  // 256 MiB

// Decoded blocks waiting for the rate stage's thread at most.
constexpr size_t kBlocksInFlight = 16;

bool layout_is_coded_as_is(const PcmBuffer& format) {
    return format.layout == ChannelLayout::Mono || format.layout == ChannelLayout::Stereo ||
           format.layout == ChannelLayout::Surround51;
}

}  // namespace

ResampleWhileDecoding::ResampleWhileDecoding(const CommandLine& cl)
    : allowed_(!cl.matrix_decode_enabled), threads_(cl.preprocess.threads) {
    sink_.takes = [this](const PcmBuffer& format, uint64_t declared_frames) { return takes(format, declared_frames); };
    sink_.push = [this](std::span<const float> interleaved) { push(interleaved); };
}

ResampleWhileDecoding::~ResampleWhileDecoding() { stop_worker(true); }

bool ResampleWhileDecoding::takes(const PcmBuffer& format, uint64_t declared_frames) {
    if (!allowed_ || format.sample_rate == 48000 || !is_supported_input_rate(format.sample_rate) ||
        !layout_is_coded_as_is(format))
        return false;
    resampler_.emplace(format.sample_rate, format.channels);
    // With threads to spare the rate stage runs beside the decoder, on the
    // threads the decoder leaves.
    resampler_->set_threads(threads_ > 1 ? threads_ - 1 : 1);
    if (threads_ > 1) worker_ = std::jthread([this] { filter_queued_blocks(); });
    resampled_ = PcmBuffer{48000, format.channels, format.layout, {}};
    const uint64_t floats = (declared_frames * 48000 / format.sample_rate + 1) * format.channels;
    try {
        resampled_.samples.reserve(static_cast<size_t>(std::min(floats, kMaxReservedFloats)));
    } catch (const std::bad_alloc&) {
        // The buffer grows as it goes instead.
    }
    return true;
}

void ResampleWhileDecoding::push(std::span<const float> interleaved) {
    if (!worker_.joinable()) {
        resampler_->push(interleaved, resampled_.samples);
        return;
    }
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kBlocksInFlight || failure_; });
    if (failure_) return;  // take() reports it
    queue_.emplace_back(interleaved.begin(), interleaved.end());
    changed_.notify_all();
}

void ResampleWhileDecoding::filter_queued_blocks() {
    for (;;) {
        std::vector<float> block;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty() || closed_; });
            if (queue_.empty()) return;
            block = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
        }
        try {
            resampler_->push(block, resampled_.samples);
        } catch (...) {
            const std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            changed_.notify_all();
            return;
        }
    }
}

// Lets the worker filter what is queued and end; with `discard` (the read
// has failed and nothing will take the output) the queue is dropped first.
void ResampleWhileDecoding::stop_worker(bool discard) {
    if (!worker_.joinable()) return;
    {
        const std::lock_guard lock(mutex_);
        if (discard) queue_.clear();
        closed_ = true;
    }
    changed_.notify_all();
    worker_.join();
}

std::optional<PcmBuffer> ResampleWhileDecoding::take() {
    if (!resampler_) return std::nullopt;
    stop_worker(false);
    if (failure_) std::rethrow_exception(failure_);
    resampler_->finish(resampled_.samples);
    resampler_.reset();
    return std::move(resampled_);
}

}  // namespace oskavi
