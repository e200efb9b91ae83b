#include "ac3/frame_job.h"

namespace oskavi {

std::vector<uint8_t> encode_frame_job(const FrameJob& job, const EncoderSettings& settings) {
    return encode_frame_window(job.window, settings, job.extras.gains);
}

}  // namespace oskavi
