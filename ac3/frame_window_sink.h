#pragma once
// Streaming assembler: collects 48 kHz frames, and for every 1536 new frames
// hands one FrameWindow (256 frames of history followed by the new ones) to
// an OrderedFrameEncoder, which appends the frames to the output in order.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3/frame_encoder.h"
#include "ac3/parallel_frame_encoder.h"

namespace oskavi {

class FrameWindowSink {
public:
    FrameWindowSink(Ac3OutputFile& out, uint32_t channels, ChannelLayout layout, const EncoderSettings& options);

    // Appends interleaved frames, emitting a frame each time 1536 are pending.
    void push(std::span<const float> interleaved);
    // Encodes the pending frames (zero-padded to 1536) as one AC-3 frame.
    void emit();
    // End of input: emits a final partial chunk if any frames are pending,
    // then writes every frame still being encoded.
    void finish();

    uint64_t frames_written() const { return encoder_.frames_written(); }
    // 4 * (history + pending + one window) floats: the assembler's working
    // set as a history, a pending and a window buffer, not the windows in
    // flight to the encoder. (The new frames go straight into the window
    // after its history, but the figure stays that of the three buffers.)
    uint32_t workspace_bytes() const;

private:
    std::size_t history_floats() const;
    std::size_t window_floats() const;

    uint32_t channels_;
    ChannelLayout layout_;
    DynamicRangeTracker drc_;  // runs in frame order, ahead of each frame's encode
    // The window being filled: the last 256 frames of the previous window,
    // then up to 1536 new frames.
    std::vector<float> window_;
    OrderedFrameEncoder encoder_;
};

}  // namespace oskavi
