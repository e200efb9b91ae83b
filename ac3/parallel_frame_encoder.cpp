#include "ac3/parallel_frame_encoder.h"

#include <algorithm>
#include <array>
#include <utility>

namespace oskavi {
namespace {

// A worker claims up to kBatch consecutive jobs at once and encodes them
// one after the other: every claim and every hand-back is a wake-up of some
// thread, and a frame is only a fraction of a millisecond of work. Jobs in
// flight per worker: a batch being encoded and one waiting, so a worker
// never idles while the producer prepares the next windows.
constexpr size_t kBatch = 4;
constexpr size_t kJobsPerWorker = 2 * kBatch;
// Whatever the thread count, no more windows than this are held at once
// (each is at most 1,792 frames of six channels, 43 KB).
constexpr size_t kMaxJobsInFlight = 192;

}  // namespace

OrderedFrameEncoder::OrderedFrameEncoder(Ac3OutputFile& out, const EncoderSettings& settings)
    : out_(out),
      settings_(settings),
      max_in_flight_(std::min(kJobsPerWorker * std::max<uint32_t>(settings.threads, 1), kMaxJobsInFlight)) {
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
        const size_t count = std::min(kBatch, slots_.size() - claimed_);
        std::array<Slot*, kBatch> batch{};
        for (size_t i = 0; i < count; ++i) batch[i] = &slots_[claimed_ + i];
        claimed_ += count;
        lock.unlock();
        // A claimed slot is this worker's until it is marked done: the
        // producer reads its frame only after that, under the mutex.
        for (size_t i = 0; i < count; ++i) {
            try {
                batch[i]->frame = encode_frame_job(batch[i]->job, settings_);
            } catch (...) {
                batch[i]->failure = std::current_exception();
            }
            batch[i]->job = FrameJob{};  // its window is no longer needed
        }
        lock.lock();
        bool front_done = false;
        for (size_t i = 0; i < count; ++i) {
            batch[i]->done = true;
            front_done = front_done || batch[i] == &slots_.front();
        }
        if (producer_waiting_ && front_done) frame_done_.notify_one();
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
        // An idle worker is woken for a whole batch; write_oldest wakes one
        // for a shorter remainder before the producer waits.
        wake = idle_workers_ > 0 && slots_.size() - claimed_ >= kBatch;
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
            if (idle_workers_ > 0 && claimed_ < slots_.size()) job_queued_.notify_all();
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
