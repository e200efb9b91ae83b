#pragma once
// Dynamic range control: gain words a decoder applies on request, computed
// from the programme level. Line mode sends `dynrng` per audio block
// (gain = 2^X * (1 + Y/32), X the signed top 3 bits, Y the low 5); RF mode
// sends `compr` once per frame (gain = 2^X * (1 + Y/16), X the signed top 4
// bits, Y the low 4).
//
// Level: the sum over the full-bandwidth channels of each channel's mean
// square over one 256-sample block (channels add as powers, without
// frequency weighting), in dB with a full-scale sine at 0 dB.
// Gain smoothing, in dB: cuts follow the static curve with a 10 ms time
// constant (fast attack), boosts and releases with a 300 ms one.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace oskavi {

enum class DrcProfile : uint8_t { None, FilmLight, FilmStandard, MusicLight, MusicStandard, Speech };

// The gain in dB a profile asks for at programme level `level_db` (dBFS),
// with the dialogue level at `dialnorm_db` (the profile's thresholds are
// stated for dialogue at -31 dBFS and move with it).
double drc_static_gain_db(DrcProfile profile, double level_db, int32_t dialnorm_db);

// Nearest `dynrng` / `compr` code to a gain in dB (clamped to the range of
// the word: dynrng -24.1..+23.9 dB, compr -48.2..+47.7 dB).
uint8_t dynrng_code(double gain_db);
uint8_t compr_code(double gain_db);
// The gain in dB that a decoder reads from a code.
double dynrng_gain_db(uint8_t code);
double compr_gain_db(uint8_t code);

// The gain words of one frame: a dynrng code per block (sent when present)
// and the frame's compr code.
struct FrameGainWords {
    std::array<std::optional<uint8_t>, 6> dynrng{};
    std::optional<uint8_t> compr;
};

// Follows the programme through the frames in order: the only encoder state
// that crosses frame boundaries, so it runs before the frames are encoded.
class DynamicRangeTracker {
public:
    DynamicRangeTracker(DrcProfile line, DrcProfile rf, int32_t dialnorm_db);

    bool active() const { return line_ != DrcProfile::None || rf_ != DrcProfile::None; }

    // The words of the next frame from its 1536 new frames of interleaved
    // samples (fewer at the end of the input: the rest count as silence).
    FrameGainWords next_frame(std::span<const float> interleaved, uint32_t channels);

    // The same from the six blocks' levels and the frame's largest sample
    // magnitude over all channels.
    FrameGainWords next_frame(std::span<const double, 6> block_levels_db, double peak);

private:
    DrcProfile line_;
    DrcProfile rf_;
    int32_t dialnorm_db_;
    double line_gain_db_ = 0.0;
    double rf_gain_db_ = 0.0;
    bool started_ = false;
};


}  // namespace oskavi
