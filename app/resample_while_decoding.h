#pragma once
// A FLAC input whose first step in the whole-file route would be the rate
// stage is resampled as it is decoded: the input is never held whole (the
// route needs half the memory) and each block is filtered while it is still
// in the cache. The samples are the ones resampling the whole input gives.

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "dsp/streaming_resampler.h"
#include "input/flac_input.h"
#include "input/pcm_buffer.h"

namespace oskavi {

class ResampleWhileDecoding {
public:
    explicit ResampleWhileDecoding(const CommandLine& cl);
    ~ResampleWhileDecoding();
    ResampleWhileDecoding(const ResampleWhileDecoding&) = delete;
    ResampleWhileDecoding& operator=(const ResampleWhileDecoding&) = delete;

    // For the reader: it takes mono, stereo and 5.1 streams at a rate other
    // than 48 kHz that the rate stage converts, unless the run decodes a
    // matrix (whose figures come from the input's own samples).
    const DecodedFrameSink& sink() const { return sink_; }
    // After the read: the input at 48 kHz when the sink took it.
    std::optional<PcmBuffer> take();

private:
    bool takes(const PcmBuffer& format, uint64_t declared_frames);
    void push(std::span<const float> interleaved);
    void filter_queued_blocks();
    void stop_worker(bool discard);

    bool allowed_;
    uint32_t threads_;
    std::optional<StreamingResampler> resampler_;
    PcmBuffer resampled_;
    DecodedFrameSink sink_;

    // With more than one thread: the blocks on their way from the decoder to
    // the rate stage's own thread, and the first failure there.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<float>> queue_;
    bool closed_ = false;
    std::exception_ptr failure_;
    std::jthread worker_;
};

}  // namespace oskavi
