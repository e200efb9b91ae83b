#pragma once
// One AC-3 frame's unit of work: its window of PCM and the small record of
// per-frame values decided in frame order before the frame is encoded. A job
// is encoded by a pure function of the job and the settings, so jobs can be
// encoded on any thread and in any order.

#include <cstdint>
#include <vector>

#include "ac3/encoder_settings.h"
#include "ac3/frame_encoder.h"

namespace oskavi {

// Values that must be computed in frame order (by the thread that produces
// the windows) and travel with the frame to its encoder: the dynamic range
// words, whose smoothing runs from frame to frame.
struct FrameExtras {
    FrameGainWords gains;
};

struct FrameJob {
    FrameWindow window;
    FrameExtras extras;
};

// The packed AC-3 frame of one job.
std::vector<uint8_t> encode_frame_job(const FrameJob& job, const EncoderSettings& settings);

}  // namespace oskavi
