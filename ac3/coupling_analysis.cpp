// The per-frame coupling decision for two-channel input, followed by
// rematrixing and the blocks' coupling data.

#include <algorithm>
#include <cmath>

#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/rematrixing.h"

namespace oskavi {

namespace {

constexpr double kSilence = 1e-30;
constexpr double kMinCorrelation = 0.55;     // |SLR| / sqrt(SLL * SRR)
constexpr double kMaxModelError = 0.125;     // energy-weighted rebuild error
constexpr double kMinBandCoherence = 0.95;   // weight-averaged over the bands
constexpr double kMinSideShare = 0.02;       // M / A at 256 kbit/s and above
constexpr uint32_t kSideShareKbps = 256;

bool any_block_switched(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks) {
    return std::any_of(blocks.begin(), blocks.end(),
                       [](const BlockAnalysis& block) { return block.blksw[0] != 0 || block.blksw[1] != 0; });
}

// Correlation of left and right over the coupling range of all six blocks.
bool channels_correlated(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const CouplingPlan& plan) {
    double sll = 0.0;
    double srr = 0.0;
    double slr = 0.0;
    for (const BlockAnalysis& block : blocks) {
        const Coefficients& left = block.coefficients[0];
        const Coefficients& right = block.coefficients[1];
        for (uint32_t k = plan.cplstrtmant; k < plan.cplendmant; ++k) {
            sll += left[k] * left[k];
            srr += right[k] * right[k];
            slr += left[k] * right[k];
        }
    }
    return sll > kSilence && srr > kSilence && std::abs(slr) / std::sqrt(sll * srr) >= kMinCorrelation;
}

// Statistics gathered while coupling a copy of every block.
struct CouplingTrial {
    std::array<CoupledBlock, kBlocksPerFrame> coupled;
    double energy = 0.0;           // sum of E over the blocks
    double weighted_error = 0.0;   // sum of E * err
    std::vector<double> cross, left_energy, right_energy;  // per band
    double all = 0.0;              // sum of (L - R)^2 + (L + R)^2
    double minimum = 0.0;          // sum of min((L - R)^2, (L + R)^2)
};

CouplingTrial couple_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const CouplingPlan& plan) {
    CouplingTrial trial;
    const size_t nbands = plan.bands.size();
    trial.cross.assign(nbands, 0.0);
    trial.left_energy.assign(nbands, 0.0);
    trial.right_energy.assign(nbands, 0.0);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        const Coefficients& left = blocks[b].coefficients[0];
        const Coefficients& right = blocks[b].coefficients[1];
        CoupledBlock& coupled = trial.coupled[b];
        coupled = couple_block(left, right, plan);
        const double error =
            coupling_model_error(left, right, coupled.coefficients, coupled.coordinates, coupled.phsflg, plan);
        double energy = 0.0;
        for (size_t i = 0; i < nbands; ++i) {
            for (uint32_t k = plan.bands[i].first_bin; k < plan.bands[i].end_bin; ++k) {
                const double l = left[k];
                const double r = right[k];
                energy += l * l + r * r;
                trial.cross[i] += l * r;
                trial.left_energy[i] += l * l;
                trial.right_energy[i] += r * r;
                const double side = (l - r) * (l - r);
                const double mid = (l + r) * (l + r);
                trial.all += side + mid;
                trial.minimum += std::min(side, mid);
            }
        }
        trial.energy += energy;
        trial.weighted_error += energy * error;
    }
    return trial;
}

bool rebuild_error_acceptable(const CouplingTrial& trial) {
    return !(trial.energy > kSilence && trial.weighted_error / trial.energy > kMaxModelError);
}

bool bands_coherent(const CouplingTrial& trial) {
    double weight = 0.0;
    double weighted = 0.0;
    for (size_t i = 0; i < trial.cross.size(); ++i) {
        const double norm = std::sqrt(trial.left_energy[i] * trial.right_energy[i]);
        if (!(norm > kSilence)) continue;
        const double w = trial.left_energy[i] + trial.right_energy[i];
        weight += w;
        weighted += w * (std::abs(trial.cross[i]) / norm);
    }
    return weight > kSilence && weighted / weight >= kMinBandCoherence;
}

// Nearly identical or nearly opposite channels are left to rematrixing at
// the high rates, where it codes them more cheaply than coupling.
bool channels_distinct(const CouplingTrial& trial, uint32_t bitrate_kbps) {
    if (bitrate_kbps < kSideShareKbps) return true;
    return !(trial.all > kSilence && trial.minimum / trial.all < kMinSideShare);
}

bool same_coordinates(const ChannelCouplingCoordinates& a, const ChannelCouplingCoordinates& b) {
    if (a.mstrcplco != b.mstrcplco || a.bands.size() != b.bands.size()) return false;
    for (size_t i = 0; i < a.bands.size(); ++i) {
        if (a.bands[i].cplcoexp != b.bands[i].cplcoexp || a.bands[i].cplcomant != b.bands[i].cplcomant) return false;
    }
    return true;
}

}  // namespace

void mark_coordinate_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks) {
    blocks[0].coupling[0].new_coordinates = 1;
    blocks[0].coupling[1].new_coordinates = 1;
    for (int b = 1; b < kBlocksPerFrame; ++b) {
        const BlockAnalysis& previous = blocks[b - 1];
        BlockAnalysis& block = blocks[b];
        for (int ch = 0; ch < 2; ++ch) {
            block.coupling[ch].new_coordinates = same_coordinates(block.coupling[ch], previous.coupling[ch]) ? 0 : 1;
        }
        // Phase flags travel with the coordinates, so a phase change alone
        // forces the right channel to resend.
        if (block.phsflg != previous.phsflg && block.coupling[0].new_coordinates == 0 &&
            block.coupling[1].new_coordinates == 0) {
            block.coupling[1].new_coordinates = 1;
        }
    }
}

namespace {

// The blocks take the trial's coupling channel, coordinates and phase flags.
// Rematrixing stops at the coupling start, so the trial coupling of the
// untouched coupling range is the final one.
void apply_coupling(CouplingTrial& trial, std::array<BlockAnalysis, kBlocksPerFrame>& blocks) {
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        CoupledBlock& coupled = trial.coupled[b];
        BlockAnalysis& block = blocks[b];
        block.cpl_coefficients = coupled.coefficients;
        block.cpl_raw_exponents = raw_exponents(block.cpl_coefficients);
        block.coupling = std::move(coupled.coordinates);
        block.phsflg = std::move(coupled.phsflg);
    }
}

}  // namespace

CouplingPlan analyse_coupling_and_rematrix(const CouplingPlan& plan, std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                                           uint32_t bitrate_kbps, bool coordinate_reuse) {
    // A trial holds six blocks of coefficients: made only when coupling is tried.
    if (plan.in_use && !any_block_switched(blocks) && channels_correlated(blocks, plan)) {
        CouplingTrial trial = couple_frame(blocks, plan);
        if (rebuild_error_acceptable(trial) && bands_coherent(trial) && channels_distinct(trial, bitrate_kbps)) {
            rematrix_frame(blocks, plan.cplstrtmant);
            apply_coupling(trial, blocks);
            if (coordinate_reuse) mark_coordinate_reuse(blocks);
            return plan;
        }
    }
    rematrix_frame(blocks, kRematrixUpperBin);
    return CouplingPlan{};
}

}  // namespace oskavi
