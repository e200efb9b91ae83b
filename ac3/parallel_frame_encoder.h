#pragma once
// Encodes frame jobs on a pool of worker threads and writes the frames to
// the output strictly in frame order, so the file is byte for byte the one a
// single thread writes.
//
// The producer (the thread that reads and prepares the input) submits jobs
// in frame order. Every output write, every exception and every wait happens
// on the producer's thread; workers only turn jobs into frame bytes, a few
// consecutive jobs per claim. At most two claims' worth of jobs per worker
// (and never more than a fixed number in all) are in flight: queued, being
// encoded or waiting to be written. Memory stays bounded whatever the input
// length: the producer waits when the limit is reached.
//
// With one thread no worker is started and every job is encoded on the
// producer's thread as it is submitted.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "ac3/ac3_output_file.h"
#include "ac3/encoder_settings.h"
#include "ac3/frame_job.h"

namespace oskavi {

class OrderedFrameEncoder {
public:
    // Encodes with settings.threads threads (0 is taken as 1).
    OrderedFrameEncoder(Ac3OutputFile& out, const EncoderSettings& settings);
    // Stops and joins the workers. Frames not yet written are dropped: after
    // a failure the file holds the frames written before it.
    ~OrderedFrameEncoder();

    OrderedFrameEncoder(const OrderedFrameEncoder&) = delete;
    OrderedFrameEncoder& operator=(const OrderedFrameEncoder&) = delete;

    // Queues the next frame's job, first writing every frame already encoded.
    // If encoding frame k failed, the frames before k are written and that
    // failure is rethrown, as a single thread would have thrown it.
    void submit(FrameJob job);
    // Waits for, and writes, every frame submitted; rethrows as submit does.
    void finish();

    uint64_t frames_written() const { return frames_written_; }

private:
    // A submitted frame: its job until a worker claims it, then its bytes or
    // its failure once encoded.
    struct Slot {
        FrameJob job;
        bool done = false;
        std::vector<uint8_t> frame;
        std::exception_ptr failure;
    };

    void work();
    // Tells every worker to return and joins them.
    void stop_workers();
    // Writes the oldest frame, waiting for it when `wait` is set; returns
    // false when there was nothing to write.
    bool write_oldest(bool wait);

    Ac3OutputFile& out_;
    const EncoderSettings settings_;
    const size_t max_in_flight_;
    uint64_t frames_written_ = 0;

    std::mutex mutex_;
    std::condition_variable job_queued_;
    std::condition_variable frame_done_;
    // Submitted frames in frame order. The first `claimed_` have been taken
    // by workers; only finished frames leave, from the front, so a worker's
    // reference to the slot it encodes stays valid (a deque keeps references
    // to its other elements across push_back and pop_front).
    std::deque<Slot> slots_;
    size_t claimed_ = 0;
    // Wake-ups cost a system call each, and a frame is only a fraction of a
    // millisecond of work: a worker is woken only when one is waiting and a
    // batch of jobs is ready (or the producer is about to wait), and the
    // producer only when it waits for the oldest frame.
    uint32_t idle_workers_ = 0;
    bool producer_waiting_ = false;
    // Set once, under the mutex, when the workers are to return. A plain
    // flag and condition variable rather than a stop token: every wake-up
    // then goes through the one mutex, on every thread library.
    bool stopping_ = false;

    std::vector<std::thread> workers_;
};

}  // namespace oskavi
