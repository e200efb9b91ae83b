#pragma once
// Shared material for the encoder tests: music-like PCM buffers and a few
// readers of fields in the frames the encoder writes.

#include <cstdint>
#include <span>
#include <vector>

#include "input/pcm_buffer.h"

namespace oskavi::test {

// Noise, tones and percussive bursts at 48 kHz. For 6 channels the LFE
// (position 3) carries a 50 Hz tone instead, as real LFE content would.
PcmBuffer music_like_pcm(uint32_t channels, double seconds, double correlation = 0.6, bool transients = true);

// cplinu of each frame of a stereo (acmod 2) stream written by this encoder:
// block 0 starts right after a BSI of fixed length, and cplinu follows
// blksw[2], dithflag[2], dynrnge and cplstre.
std::vector<int> stereo_cplinu_flags(std::span<const uint8_t> stream, uint32_t frame_bytes);

}  // namespace oskavi::test
