#pragma once
// The two per-frame records through which the encoder stages hand over their
// results: six BlockAnalysis records (one per audio block) and one FramePlan.
// Both are built fresh for every frame; nothing in them crosses a frame.
//
// Channel order is the AC-3 order of the full-bandwidth channels
// (mono C; stereo L, R; 5.1 L, C, R, Ls, Rs). The LFE is held apart.

#include <array>
#include <cstdint>
#include <vector>

#include "ac3/exponent_set.h"

namespace oskavi {

inline constexpr int kBlocksPerFrame = 6;
inline constexpr int kMaxFbwChannels = 5;
inline constexpr int kLfeCodedBins = 7;
// End mantissa of chbwcod 0, the narrowest full-bandwidth channel; each
// chbwcod step adds 3 bins.
inline constexpr uint32_t kMinEndmant = 73;

using Coefficients = std::array<double, kBinsPerBlock>;
using RawExponents = std::array<uint8_t, kBinsPerBlock>;

struct CouplingCoordinate {
    uint8_t cplcoexp = 0;   // 0..15
    uint8_t cplcomant = 0;  // 0..15
    double value = 0.0;     // dequantised coordinate
};

struct ChannelCouplingCoordinates {
    uint8_t mstrcplco = 0;                 // 0..3
    std::vector<CouplingCoordinate> bands;  // one entry per coupling band
    uint8_t new_coordinates = 1;           // cplcoe for this block
};

// The three coefficient arrays (14 KB of the record) are not zero-filled on
// construction: every frame writes each one it uses in full (the analysis
// the channels and the LFE, coupling the coupling channel) before anything
// reads it, and arrays of channels a frame does not have are never read.
// Value-initialise a record (`BlockAnalysis{}`) to get zeros everywhere.
struct BlockAnalysis {
    std::array<Coefficients, kMaxFbwChannels> coefficients;
    std::array<RawExponents, kMaxFbwChannels> raw_exponents{};
    std::array<uint8_t, kMaxFbwChannels> gainrng{};
    std::array<uint8_t, kMaxFbwChannels> blksw{};
    std::array<ExponentSet, kMaxFbwChannels> exponent_sets{};  // set in force

    std::array<uint8_t, 4> rematflg{};

    Coefficients cpl_coefficients;  // zero outside the coupling range
    RawExponents cpl_raw_exponents{};
    std::array<ChannelCouplingCoordinates, 2> coupling{};
    std::vector<uint8_t> phsflg;  // one per coupling band, 1 = right channel inverted
    ExponentSet cpl_exponent_set;

    bool lfe_present = false;
    Coefficients lfe_coefficients;
    RawExponents lfe_raw_exponents{};
    ExponentSet lfe_exponent_set;
};

// Width in bins of an A/52 coupling sub-band; this encoder makes every
// sub-band a coupling band of its own.
inline constexpr uint32_t kCouplingBandWidth = 12;

struct CouplingBand {
    uint32_t first_bin = 0;
    uint32_t end_bin = 0;  // exclusive
};

// Coupling range chosen from the bit rate; not in use when coupling is
// switched off for the frame.
struct CouplingPlan {
    uint8_t in_use = 0;
    uint8_t cplbegf = 0;
    uint8_t cplendf = 0;
    uint32_t cplstrtmant = 0;
    uint32_t cplendmant = 0;
    std::vector<CouplingBand> bands;
};

// How tonal a channel's spectrum is, from its spectral flatness (geometric
// over arithmetic mean, 0 tonal .. 1 flat): below 0.08, below 0.25, or above.
enum class Tonality : uint8_t { Tonal, FairlyTonal, Flat };

struct FramePlan {
    std::array<uint32_t, kMaxFbwChannels> endmant{kMinEndmant, kMinEndmant, kMinEndmant, kMinEndmant, kMinEndmant};
    std::array<uint8_t, kMaxFbwChannels> chbwcod{};
    // One entry per full-bandwidth channel, then the LFE's entry right after
    // the last full-bandwidth channel.
    std::array<uint8_t, kMaxFbwChannels + 1> fsnroffst{};
    std::array<std::array<uint8_t, kMaxFbwChannels>, kBlocksPerFrame> chexpstr{};  // [block][channel]
    std::array<Tonality, kMaxFbwChannels> tonality{};  // Tonal for a silent channel

    CouplingPlan coupling;  // in use (cplinu) or not, and its range
    uint8_t cplfsnroffst = 4;
    uint8_t cplfleak = 3;
    uint8_t cplsleak = 3;
};

}  // namespace oskavi
