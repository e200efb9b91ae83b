#pragma once
// The AC-3 frame encoder: turns 48 kHz PCM into constant-bit-rate frames of
// 1536 samples per channel. Every frame is encoded from scratch; only the 256
// samples of window history cross a frame boundary, so the whole-file and the
// streaming routes produce identical frames for identical input.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "ac3/ac3_output_file.h"
#include "ac3/block_analysis.h"
#include "ac3/encoder_settings.h"
#include "input/pcm_buffer.h"

namespace oskavi {

inline constexpr uint32_t kFrameWindowFrames = kSamplesPerBlock + kSamplesPerFrame;  // history + new

// The unit of one streamed AC-3 frame: 256 frames of history, then 1536 new.
using FrameWindow = PcmBuffer;

using EncodeProgress = std::function<void(uint64_t done, uint64_t total)>;

// One frame; `gains` are its dynamic range words (none by default).
std::vector<uint8_t> encode_frame_at(const PcmBuffer& pcm, uint64_t frame_index, const EncoderSettings& options,
                                     const FrameGainWords& gains = {});
std::vector<uint8_t> encode_frame_window(const FrameWindow& window, const EncoderSettings& options,
                                         const FrameGainWords& gains = {});
std::vector<uint8_t> make_silent_frame(uint32_t channels, const EncoderSettings& options);

// Digital silence of `frames` 48 kHz frames: the silent frame repeated
// ac3_frame_count(frames) times. Returns the number of frames written; a
// failed write throws "Failed while writing AC-3 output".
uint64_t write_silent_stream(Ac3OutputFile& out, uint32_t channels, uint64_t frames, const EncoderSettings& options);

// Whole-file route: writes ceil(frames / 1536) frames (at least one).
void encode_pcm_file(const PcmBuffer& pcm, const std::string& output_path, const EncoderSettings& options,
                     const EncodeProgress& progress);

// Number of frames encode_pcm_file writes for a buffer of `frames` frames.
uint64_t ac3_frame_count(uint64_t frames);

}  // namespace oskavi
