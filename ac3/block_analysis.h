#pragma once
// Analysis of one audio block: the 512 samples of each channel's transform
// window gathered from the source, their gain range, the transient decision
// (short or long transform), the MDCT coefficients and their raw exponents.

#include <array>
#include <cstdint>
#include <span>

#include "ac3/encoder_settings.h"
#include "ac3/frame_records.h"
#include "input/pcm_buffer.h"

namespace oskavi {

inline constexpr uint32_t kSamplesPerBlock = 256;
inline constexpr uint32_t kSamplesPerFrame = kSamplesPerBlock * kBlocksPerFrame;

// Interleaved samples of one source, addressed by frame. Frames before 0 or
// at or beyond frame_count read as 0.0.
struct PcmView {
    std::span<const float> samples;
    uint32_t channels = 0;
    ChannelLayout layout = ChannelLayout::Unknown;
    uint64_t frame_count() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// 0 if the block's peak is at least 0.5, 1 from 0.25, 2 from 0.125, else 3.
uint8_t gain_range_code(std::span<const double, 512> samples);

// Analyses one audio block whose transform covers source frames
// 256 * (block_number - 1) .. 256 * (block_number + 1) - 1.
BlockAnalysis analyze_block(const PcmView& source, int64_t block_number, const EncoderSettings& settings);

// The six blocks of one frame, block numbers first_block .. first_block + 5.
// Throws "non-silent AC-3 requires mono, stereo, or canonical 5.1 input" for
// any other source layout.
void analyse_frame_blocks(const PcmView& source, int64_t first_block, const EncoderSettings& settings,
                          std::array<BlockAnalysis, kBlocksPerFrame>& blocks);

}  // namespace oskavi
