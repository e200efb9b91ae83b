#pragma once
// A/52 channel coupling for two-channel frames: above a bit-rate-dependent
// start bin both channels are replaced by one coupling channel plus per-band
// coordinates (and phase flags) from which a decoder rebuilds each channel.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3/exponent_set.h"
#include "ac3/frame_records.h"

namespace oskavi {

// Coupling range for the bit rate: in use only when enabled and at 128..256
// kbit/s, as nine 12-bin bands from cplstrtmant. Otherwise an empty plan.
CouplingPlan plan_coupling(bool enabled, uint32_t bitrate_kbps);

// One block coupled: the coupling channel (zero outside the coupling range),
// both channels' quantised coordinates and one phase flag per band.
struct CoupledBlock {
    Coefficients coefficients{};
    std::array<ChannelCouplingCoordinates, 2> coordinates{};
    std::vector<uint8_t> phsflg;
};

// Throws "coupling requested with disabled plan" when the plan is not in use.
CoupledBlock couple_block(std::span<const double, kBinsPerBlock> left, std::span<const double, kBinsPerBlock> right,
                          const CouplingPlan& plan);

// Relative error of rebuilding left and right from the coupling channel and
// the quantised coordinates; 0 for a silent coupling range. Throws "invalid
// coupling model-error inputs" for a disabled plan or a coordinate or phase
// list without one entry per band.
double coupling_model_error(std::span<const double, kBinsPerBlock> left, std::span<const double, kBinsPerBlock> right,
                            std::span<const double, kBinsPerBlock> coupled,
                            const std::array<ChannelCouplingCoordinates, 2>& coordinates,
                            std::span<const uint8_t> phsflg, const CouplingPlan& plan);

// Quantises one channel's band coordinates to mstrcplco, cplcoexp and
// cplcomant; new_coordinates is left at 1.
ChannelCouplingCoordinates quantise_coupling_coordinates(std::span<const double> coordinates);

// Decides whether the frame couples (returns the plan in force: the given one
// or an empty one), rematrixes every block up to the coupling start (or bin
// 253), and fills the blocks' coupling channel, raw exponents, coordinates,
// phase flags and new-coordinates flags.
CouplingPlan analyse_coupling_and_rematrix(const CouplingPlan& plan, std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                                           uint32_t bitrate_kbps, bool coordinate_reuse);

// Sets each block's new-coordinates flags: a channel resends only when its
// coordinates changed, and the right channel also when the phase flags did.
void mark_coordinate_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks);

// The coupling channel's D15 set over [cplstrtmant, cplendmant) from per-bin
// exponents indexed by bin, with an even reference exponent sent as
// cplabsexp (stored in absolute_exponent) and the decoded exponents at their
// bins (24 elsewhere); bin_count is cplendmant. Throws "invalid coupling
// exponent range" unless start < end <= size and the width is a multiple of 3.
ExponentSet coupling_exponent_set(std::span<const uint8_t> exponents, uint32_t cplstrtmant, uint32_t cplendmant);

}  // namespace oskavi
