// Exponent-set preparation, bit allocation and frame packing costs: the
// three exponent sets of one raw spectrum, one channel's allocation over the
// widest bandwidth, the SNR-independent mask, the baps derived from it and
// their bit count taken straight from the mask, one stereo frame counted
// (size probe) and written (full pack), and the probe sequence of one fit
// search sharing the frame's allocation.

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "ac3/bit_allocation.h"
#include "ac3/exponents.h"
#include "ac3/frame_allocation.h"
#include "ac3/frame_packer.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {
namespace {

// A music-like spectrum: energy falling with frequency plus noise.
Coefficients synthetic_block(std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, 1.0);
    Coefficients c{};
    for (int bin = 0; bin < kBinsPerBlock; ++bin) c[bin] = 0.3 * noise(rng) / (1.0 + bin / 8.0);
    return c;
}

std::vector<uint8_t> synthetic_exponents() {
    std::mt19937 rng(11);
    const Coefficients c = synthetic_block(rng);
    const RawExponents raw = raw_exponents(c);
    const ExponentSet set = prepare_exponent_set(raw, kExpD15, 253);
    return std::vector<uint8_t>(set.exponents.begin(), set.exponents.begin() + 253);
}

BitAllocParams params(uint8_t csnroffst, uint8_t fsnroffst) {
    BitAllocParams p;
    p.csnroffst = csnroffst;
    p.fsnroffst = fsnroffst;
    return p;
}

// One exponent set of each strategy from the same raw exponents: the step
// reduction, slew limit and grouping the exponent-strategy search runs for
// every candidate.
void BM_PrepareExponentSets253(benchmark::State& state) {
    std::mt19937 rng(11);
    const RawExponents raw = raw_exponents(synthetic_block(rng));
    for (auto _ : state) {
        for (uint8_t strategy : {kExpD15, kExpD25, kExpD45})
            benchmark::DoNotOptimize(prepare_exponent_set(raw, strategy, 253));
    }
}
BENCHMARK(BM_PrepareExponentSets253);

void BM_AllocateBits253(benchmark::State& state) {
    const std::vector<uint8_t> exps = synthetic_exponents();
    for (auto _ : state) benchmark::DoNotOptimize(allocate_bits(exps, 0, 253, params(30, 8)));
}
BENCHMARK(BM_AllocateBits253);

void BM_ComputeMask253(benchmark::State& state) {
    const std::vector<uint8_t> exps = synthetic_exponents();
    for (auto _ : state) benchmark::DoNotOptimize(compute_allocation_mask(exps, 0, 253, params(0, 0)));
}
BENCHMARK(BM_ComputeMask253);

// The band mask the exponent-strategy search computes for every candidate,
// for each grouping (D15, D25, D45).
void BM_SteppedBandMask253(benchmark::State& state) {
    const uint32_t group_size = static_cast<uint32_t>(state.range(0));
    std::mt19937 rng(11);
    const RawExponents raw = raw_exponents(synthetic_block(rng));
    const uint8_t strategy = group_size == 1 ? kExpD15 : group_size == 2 ? kExpD25 : kExpD45;
    std::array<uint8_t, kBinsPerBlock> shaped;
    shape_exponents(raw, strategy, 253, shaped);
    std::array<int32_t, 50> mask;
    for (auto _ : state) {
        benchmark::DoNotOptimize(compute_stepped_band_mask(shaped, group_size, 253, params(30, 8), mask));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SteppedBandMask253)->Arg(1)->Arg(2)->Arg(4);

void BM_BapsFromMask253(benchmark::State& state) {
    const std::vector<uint8_t> exps = synthetic_exponents();
    const BitAllocationMask mask = compute_allocation_mask(exps, 0, 253, params(0, 0));
    for (auto _ : state) benchmark::DoNotOptimize(baps_from_mask(mask, 30, 8));
}
BENCHMARK(BM_BapsFromMask253);

void BM_TallyMantissas253(benchmark::State& state) {
    std::array<uint8_t, kBinsPerBlock> row{};  // the whole row the tally reads
    const std::vector<uint8_t> exps = synthetic_exponents();
    std::copy(exps.begin(), exps.end(), row.begin());
    const BitAllocationMask mask = compute_allocation_mask(exps, 0, 253, params(0, 0));
    for (auto _ : state) benchmark::DoNotOptimize(tally_mantissas(row, mask.mask, 0, 253, mask.floor, 30, 8));
}
BENCHMARK(BM_TallyMantissas253);

// A full-bandwidth stereo frame: D15 exponents in block 0, reused after.
struct StereoFrame {
    std::array<BlockAnalysis, kBlocksPerFrame> blocks{};
    FramePlan plan;
};

StereoFrame synthetic_stereo_frame() {
    std::mt19937 rng(5);
    StereoFrame f;
    for (int ch = 0; ch < 2; ++ch) {
        f.plan.endmant[ch] = 253;
        f.plan.chbwcod[ch] = 60;
        f.plan.fsnroffst[ch] = 8;
        f.plan.chexpstr[0][ch] = kExpD15;
        RawExponents mins;
        mins.fill(24);
        for (BlockAnalysis& block : f.blocks) {
            block.coefficients[ch] = synthetic_block(rng);
            const RawExponents raw = raw_exponents(block.coefficients[ch]);
            for (int bin = 0; bin < kBinsPerBlock; ++bin) mins[bin] = std::min(mins[bin], raw[bin]);
        }
        const ExponentSet set = prepare_exponent_set(mins, kExpD15, 253);
        for (BlockAnalysis& block : f.blocks) block.exponent_sets[ch] = set;
    }
    return f;
}

// The synthetic frame as packed at 192 kbit/s, dialnorm -31.
FrameContext at_192(const StereoFrame& f) { return FrameContext{f.blocks, f.plan, 192, -31, 2}; }

void BM_FrameFitsStereo192(benchmark::State& state) {
    const StereoFrame f = synthetic_stereo_frame();
    for (auto _ : state) benchmark::DoNotOptimize(frame_fits(at_192(f), 20));
}
BENCHMARK(BM_FrameFitsStereo192);

void BM_WriteFrameStereo192(benchmark::State& state) {
    const StereoFrame f = synthetic_stereo_frame();
    int csnroffst = 63;
    while (csnroffst > 0 && !frame_fits(at_192(f), static_cast<uint8_t>(csnroffst))) --csnroffst;
    state.counters["csnroffst"] = csnroffst;
    for (auto _ : state) {
        benchmark::DoNotOptimize(write_frame(at_192(f), static_cast<uint8_t>(csnroffst)));
    }
}
BENCHMARK(BM_WriteFrameStereo192);

// The probes of one fit search (63, 0, then six halvings) and the final
// pack, with the frame's allocation carried from probe to probe.
void BM_FitSearchStereo192(benchmark::State& state) {
    const StereoFrame f = synthetic_stereo_frame();
    for (auto _ : state) {
        FrameAllocation allocation(f.blocks, f.plan, 2);
        int lo = 0;
        int hi = 62;
        benchmark::DoNotOptimize(frame_fits(at_192(f), 63, allocation));
        benchmark::DoNotOptimize(frame_fits(at_192(f), 0, allocation));
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (frame_fits(at_192(f), static_cast<uint8_t>(mid), allocation))
                lo = mid;
            else
                hi = mid - 1;
        }
        benchmark::DoNotOptimize(write_frame(at_192(f), static_cast<uint8_t>(lo), allocation));
    }
}
BENCHMARK(BM_FitSearchStereo192);

}  // namespace
}  // namespace oskavi
