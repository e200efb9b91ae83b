#pragma once
// Streaming assembler: collects 48 kHz frames, and for every 1536 new frames
// hands one FrameWindow (256 frames of history followed by the new ones) to
// an OrderedFrameEncoder, which appends the frames to the output in order.

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
    // 4 * (history + pending + one window) floats, at allocated sizes: the
    // assembler's own buffers, not the windows in flight to the encoder.
    uint32_t workspace_bytes() const;

private:
    uint32_t channels_;
    ChannelLayout layout_;
    DynamicRangeTracker drc_;  // runs in frame order, ahead of each frame's encode
    std::vector<float> history_;  // last 256 frames of the previous window
    std::vector<float> pending_;  // up to 1536 new frames
    OrderedFrameEncoder encoder_;
};

}  // namespace oskavi
