#pragma once
// Frames built by hand from PCM for packer tests: every block gets a long
// MDCT and its raw exponents, each channel sends one D15 exponent set in
// block 0 (the minimum over the six blocks, so no later block overflows it)
// and reuses it in blocks 1..5, with fixed fine SNR offsets. Optionally a
// stereo frame is rematrixed and coupled over the bit rate's coupling range.

#include <array>
#include <cstdint>
#include <vector>

#include "ac3/frame_records.h"

namespace oskavi::test {

struct HandmadeOptions {
    uint32_t endmant = 253;      // full-bandwidth bandwidth (73..253, 73 + 3k)
    uint8_t fsnroffst = 8;       // every full-bandwidth channel
    uint8_t lfe_fsnroffst = 4;   // the LFE channel
    bool lfe = false;            // last channel of the input is the LFE
    uint32_t coupling_kbps = 0;  // stereo only: couple with this rate's range (0 = off)
    bool rematrix = false;       // stereo only: rematrix below the coupling start (or bin 253)
    bool hold_coordinates = false;  // coupled: blocks 1..5 keep block 0's coordinates (cplcoe 0)
};

struct HandmadeFrame {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    FramePlan plan;
};

// windows: one 1792-sample window per channel (256 samples of history, then
// the frame's 1536), full-bandwidth channels in AC-3 order, then the LFE.
HandmadeFrame make_handmade_frame(const std::vector<std::vector<double>>& windows, const HandmadeOptions& options);

// Largest csnroffst at which the frame fits (-1 if none).
int largest_fitting_csnroffst(const HandmadeFrame& frame, uint32_t bitrate_kbps, uint32_t channels);

// A whole stream of hand-made frames from per-channel signals (same layout
// as above, any length): 256 zero samples of history before the first frame,
// the last frame zero-padded, each frame packed at its largest fitting
// csnroffst with dialnorm -31.
// The frames are also handed back through `frames` when given.
std::vector<uint8_t> encode_handmade_stream(const std::vector<std::vector<double>>& signals, uint32_t bitrate_kbps,
                                            const HandmadeOptions& options,
                                            std::vector<HandmadeFrame>* frames = nullptr);

}  // namespace oskavi::test
