#include "ac3/frame_planning.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

#include "ac3/rematrixing.h"
#include "platform/processor_features.h"

namespace oskavi {

namespace {

constexpr double kBinWidthHz = 93.75;  // 48 kHz / 512
constexpr double kSilentEnergy = 1e-24;
constexpr double kOccupiedShare = 0.9995;
constexpr uint32_t kOccupiedMargin = 13;

using EnergySpectrum = std::array<double, kMaxCodedBins>;

uint32_t round_down_to_grid(uint32_t endmant) {
    return kMinEndmant + (endmant - kMinEndmant) / 3 * 3;
}

// The loops below run on independent bins, so the compiler vectorises them
// without changing any sum; energy_spectrum is also built for AVX2, whose
// wider vectors take twice the bins per step.

// Adds y^2 of the bins [first, end) of one block's coefficients.
[[gnu::always_inline]] inline void add_energy(EnergySpectrum& energy, const Coefficients& y, uint32_t first,
                                              uint32_t end) {
    for (uint32_t k = first; k < end; ++k) energy[k] += y[k] * y[k];
}

// Adds (l + r)^2 (channel 0) or (l - r)^2 (channel 1) of the bins [first, end).
[[gnu::always_inline]] inline void add_rebuilt_energy(EnergySpectrum& energy, const BlockAnalysis& block,
                                                      int channel, uint32_t first, uint32_t end) {
    const Coefficients& left = block.coefficients[0];
    const Coefficients& right = block.coefficients[1];
    for (uint32_t k = first; k < end; ++k) {
        const double y = channel == 0 ? left[k] + right[k] : left[k] - right[k];
        energy[k] += y * y;
    }
}

// Energy of one channel per bin over the six blocks. In an uncoupled stereo
// frame a rematrixed band is measured on L + R (channel 0) or L - R
// (channel 1), which is what its stored halves add back to unhalved.
[[gnu::always_inline]] inline void add_energy_spectrum(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                                                       int channel, bool rematrixed, EnergySpectrum& energy) {
    for (const BlockAnalysis& block : blocks) {
        const Coefficients& own = block.coefficients[channel];
        if (!rematrixed) {
            add_energy(energy, own, 0, kMaxCodedBins);
            continue;
        }
        add_energy(energy, own, 0, kRematrixBands[0].first);
        for (std::size_t band = 0; band < kRematrixBands.size(); ++band) {
            const auto [first, end] = kRematrixBands[band];
            if (block.rematflg[band]) {
                add_rebuilt_energy(energy, block, channel, first, end);
            } else {
                add_energy(energy, own, first, end);
            }
        }
    }
}

#if OSKAVI_AVX2_KERNELS
OSKAVI_AVX2 void energy_spectrum_avx2(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel,
                                      bool rematrixed, EnergySpectrum& energy) {
    add_energy_spectrum(blocks, channel, rematrixed, energy);
}
#endif

EnergySpectrum energy_spectrum(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel,
                               bool rematrixed) {
    EnergySpectrum energy{};
#if OSKAVI_AVX2_KERNELS
    if (processor_has_avx2()) {
        energy_spectrum_avx2(blocks, channel, rematrixed, energy);
        return energy;
    }
#endif
    add_energy_spectrum(blocks, channel, rematrixed, energy);
    return energy;
}

double sum_energy(const EnergySpectrum& energy) {
    double total = 0.0;
    for (double e : energy) total += e;
    return total;
}

}  // namespace

double spectral_flatness(std::span<const double, kMaxCodedBins> energy, double total) {
    const double mean = total / kMaxCodedBins;
    const double epsilon = mean * 1e-12 + 1e-30;
    double log_sum = 0.0;
    for (double e : energy) log_sum += std::log(e + epsilon);
    const double flatness = std::exp((1.0 / kMaxCodedBins) * log_sum) / (mean + epsilon);
    return std::clamp(flatness, 0.0, 1.0);
}

namespace {

constexpr double kTonalFlatness = 0.08;
constexpr double kFairlyTonalFlatness = 0.25;
constexpr double kLn2 = 0.6931471805599453;
// Relative distance from a threshold within which the estimate below gives
// way to the exact flatness. The two differ by less than 1e-9 relative: the
// estimate's product of 253 mantissas is off by at most 253 roundings, and
// the exact sum of 253 logarithms by at most 253 roundings of partial sums
// below 2e5, about 1e-8 in all, a 253rd of it in the exponent.
constexpr double kEstimateMargin = 1e-6;

Tonality tonality_of(double flatness) {
    if (flatness < kTonalFlatness) return Tonality::Tonal;
    if (flatness < kFairlyTonalFlatness) return Tonality::FairlyTonal;
    return Tonality::Flat;
}

// spectral_flatness but for the rounding, with one logarithm for the whole
// spectrum: the sum of log(e + epsilon) is the logarithm of the product of
// the bins' binary mantissas, each in [0.5, 1) (so that the product of 253
// stays a normal double), plus the sum of their exponents times ln 2. Every
// e + epsilon is a positive normal double (epsilon is at least 1e-30) when
// the total is finite.
double estimated_flatness(std::span<const double, kMaxCodedBins> energy, double total) {
    static_assert(kMaxCodedBins < 1000, "the mantissa product must stay above the smallest normal double");
    const double mean = total / kMaxCodedBins;
    const double epsilon = mean * 1e-12 + 1e-30;
    constexpr uint64_t kFraction = (uint64_t{1} << 52) - 1;
    constexpr uint64_t kHalfExponent = uint64_t{1022} << 52;  // the exponent field of [0.5, 1)
    double product = 1.0;
    int64_t exponents = 0;
    for (double e : energy) {
        const auto bits = std::bit_cast<uint64_t>(e + epsilon);
        exponents += static_cast<int64_t>(bits >> 52) - 1022;
        product *= std::bit_cast<double>((bits & kFraction) | kHalfExponent);
    }
    const double log_sum = std::log(product) + static_cast<double>(exponents) * kLn2;
    return std::exp((1.0 / kMaxCodedBins) * log_sum) / (mean + epsilon);
}

bool near_threshold(double flatness) {
    for (double threshold : {kTonalFlatness, kFairlyTonalFlatness}) {
        if (!(std::fabs(flatness - threshold) > kEstimateMargin * threshold)) return true;  // NaN too
    }
    return false;
}

}  // namespace

Tonality spectral_tonality(std::span<const double, kMaxCodedBins> energy, double total) {
    if (!std::isfinite(total)) return tonality_of(spectral_flatness(energy, total));
    const double estimate = estimated_flatness(energy, total);
    return tonality_of(near_threshold(estimate) ? spectral_flatness(energy, total) : estimate);
}

namespace {

// End of the occupied spectrum: a margin above the bin where the running
// energy reaches 99.95 % of the total, at least chbwcod 0, on the grid.
uint32_t occupied_end(const EnergySpectrum& energy, double total) {
    const double target = kOccupiedShare * total;
    double running = 0.0;
    uint32_t reached = 0;
    for (int k = 0; k < kMaxCodedBins; ++k) {
        running += energy[k];
        if (running >= target) {
            reached = static_cast<uint32_t>(k);
            break;
        }
    }
    uint32_t end = std::min<uint32_t>(reached + kOccupiedMargin, kMaxCodedBins);
    end = std::max(end, kMinEndmant);
    return round_down_to_grid(end);
}

}  // namespace

uint32_t bandwidth_cap(uint32_t bitrate_kbps, int nfbw) {
    const double per_channel = static_cast<double>(bitrate_kbps) / std::max(nfbw, 1) - 48.0;
    const double hz = std::clamp(9000.0 + 120.0 * per_channel, 9000.0, 20500.0);
    const auto bin = static_cast<int64_t>(std::ceil(hz / kBinWidthHz));
    const auto clamped = static_cast<uint32_t>(std::clamp<int64_t>(bin, kMinEndmant, kMaxCodedBins));
    return round_down_to_grid(clamped);
}

uint8_t fine_snr_offset(double channel_energy, double max_energy) {
    if (!(max_energy > kSilentEnergy && channel_energy > kSilentEnergy)) return 0;
    const double ratio = std::clamp(channel_energy / max_energy, 0.0, 1.0);
    const double offset = std::round(6.0 * std::sqrt(ratio) + 2.0);  // halves away from zero
    return static_cast<uint8_t>(std::clamp(offset, 0.0, 8.0));
}

FramePlan plan_frame(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t bitrate_kbps, int nfbw,
                     bool lfe, const CouplingPlan& coupling, const BandwidthSetting& bandwidth) {
    FramePlan plan;
    const uint32_t cap = bandwidth_cap(bitrate_kbps, nfbw);
    const bool rematrixed = nfbw == 2 && !lfe && !coupling.in_use;
    std::array<double, kMaxFbwChannels> totals{};
    for (int c = 0; c < nfbw; ++c) {
        const EnergySpectrum energy = energy_spectrum(blocks, c, rematrixed);
        const double total = sum_energy(energy);
        totals[c] = total;
        uint32_t end = kMinEndmant;
        if (total > kSilentEnergy) {
            plan.tonality[c] = spectral_tonality(energy, total);
            end = occupied_end(energy, total);
        }
        uint32_t endmant = std::min(end, cap);
        if (bandwidth.mode == BandwidthMode::Full) endmant = cap;
        if (bandwidth.mode == BandwidthMode::Fixed) endmant = bandwidth.fixed_endmant;
        if (endmant < kMinEndmant || endmant - kMinEndmant > 180 || (endmant - kMinEndmant) % 3 != 0) {
            throw std::runtime_error("invalid AC-3 FBW endmant");
        }
        plan.endmant[c] = endmant;
        plan.chbwcod[c] = static_cast<uint8_t>((endmant - kMinEndmant) / 3);
        if (coupling.in_use) {
            // Above the coupling start the channels live in the coupling channel.
            plan.endmant[c] = coupling.cplstrtmant;
            plan.chbwcod[c] = 0;
        }
    }

    const double max_total = *std::max_element(totals.begin(), totals.begin() + std::max(nfbw, 1));
    for (int c = 0; c < nfbw; ++c) plan.fsnroffst[c] = fine_snr_offset(totals[c], max_total);
    if (lfe) {
        double energy = 0.0;
        for (const BlockAnalysis& block : blocks) {
            for (int k = 0; k < kLfeCodedBins; ++k) energy += block.lfe_coefficients[k] * block.lfe_coefficients[k];
        }
        plan.fsnroffst[nfbw] = energy > kSilentEnergy ? 4 : 0;
    }

    plan.coupling = coupling;
    return plan;
}

}  // namespace oskavi
