#include "ac3/parallel_frame_encoder.h"

#include <algorithm>
#include <utility>

namespace oskavi {
namespace {

// Jobs in flight per worker: one being encoded and one waiting, so a worker
// never idles while the producer prepares the next window.
constexpr size_t kJobsPerWorker = 2;

}  // namespace

OrderedFrameEncoder::OrderedFrameEncoder(Ac3OutputFile& out, const EncoderSettings& settings)
    : out_(out), settings_(settings), max_in_flight_(kJobsPerWorker * std::max<uint32_t>(settings.threads, 1)) {
    if (settings.threads <= 1) return;
    workers_.reserve(settings.threads);
    try {
        for (uint32_t i = 0; i < settings.threads; ++i) workers_.emplace_back([this] { work(); });
    } catch (...) {
        stop_workers();
        throw;
    }
}

OrderedFrameEncoder::~OrderedFrameEncoder() { stop_workers(); }

void OrderedFrameEncoder::stop_workers() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    job_queued_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
}

void OrderedFrameEncoder::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_workers_;
        job_queued_.wait(lock, [this] { return stopping_ || claimed_ < slots_.size(); });
        --idle_workers_;
        if (stopping_) return;
        const size_t position = claimed_++;
        Slot& slot = slots_[position];
        const FrameJob job = std::move(slot.job);
        lock.unlock();
        std::vector<uint8_t> frame;
        std::exception_ptr failure;
        try {
            frame = encode_frame_job(job, settings_);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        slot.frame = std::move(frame);
        slot.failure = failure;
        slot.done = true;
        if (producer_waiting_ && &slot == &slots_.front()) frame_done_.notify_one();
    }
}

void OrderedFrameEncoder::submit(FrameJob job) {
    if (workers_.empty()) {
        out_.write(encode_frame_job(job, settings_));
        ++frames_written_;
        return;
    }
    while (write_oldest(false)) {
    }
    bool wake = false;
    {
        std::unique_lock lock(mutex_);
        if (slots_.size() >= max_in_flight_) {
            lock.unlock();
            write_oldest(true);
            lock.lock();
        }
        slots_.push_back(Slot{std::move(job), false, {}, nullptr});
        wake = idle_workers_ > 0;
    }
    if (wake) job_queued_.notify_one();
}

void OrderedFrameEncoder::finish() {
    while (write_oldest(true)) {
    }
}

bool OrderedFrameEncoder::write_oldest(bool wait) {
    Slot oldest;
    {
        std::unique_lock lock(mutex_);
        if (wait) {
            producer_waiting_ = true;
            frame_done_.wait(lock, [this] { return slots_.empty() || slots_.front().done; });
            producer_waiting_ = false;
        }
        if (slots_.empty() || !slots_.front().done) return false;
        oldest = std::move(slots_.front());
        slots_.pop_front();
        --claimed_;
    }
    if (oldest.failure) std::rethrow_exception(oldest.failure);
    out_.write(oldest.frame);
    ++frames_written_;
    return true;
}

}  // namespace oskavi
