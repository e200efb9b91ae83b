#include "ac3/exponent_strategy.h"

#include <algorithm>
#include <span>
#include <utility>

#include "ac3/band_masks.h"
#include "ac3/bit_allocation.h"
#include "ac3/bit_allocation_tables.h"
#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {

namespace {

constexpr uint32_t kRefreshMinKbps = 448;
constexpr uint32_t kSegmentationMargin = 96;  // bits a split must save

// The cost model allocates at a fixed mid-range coarse offset with the
// encoder's fixed allocation codes.
constexpr uint8_t kCostCsnroffst = 30;

using ExponentRow = std::array<uint8_t, kBinsPerBlock>;

// Smallest exponent of each of the first `bins` bins over the blocks
// [first, end), from 24; the rest of the row stays 24.
template <typename Select>
ExponentRow minimum_over_blocks(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int first, int end,
                                uint32_t bins, Select select) {
    ExponentRow row;
    row.fill(24);
    for (int b = first; b < end; ++b) {
        const RawExponents& raw = select(blocks[b]);
        for (uint32_t k = 0; k < bins; ++k) row[k] = std::min(row[k], raw[k]);
    }
    return row;
}

bool strategy_tried(uint8_t strategy, bool switched, Tonality tonality) {
    if (switched) return strategy == kExpD45;
    if (tonality == Tonality::Tonal) return strategy == kExpD15;
    if (tonality == Tonality::FairlyTonal) return strategy != kExpD45;
    return true;
}

// One exponent run costed: the strategy of the set it would send and its
// bits. Not yet costed: cost 4294967295.
struct ExponentCandidate {
    uint8_t strategy = kExpD15;
    uint32_t cost = UINT32_MAX;
};

constexpr uint32_t group_size_of(uint8_t strategy) {
    return strategy == kExpD15 ? 1 : strategy == kExpD25 ? 2 : 4;
}

// The cheapest tried strategy of each exponent run [first, end) of one
// channel: the set sent in block `first` and reused up to block `end`
// (exclusive), costed as the mantissa bits of every block of the run plus
// the exponent bits. The candidate sets wait in a batch and are masked
// kMaskLanes at a time.
class CandidateTable {
public:
    // Every run of the frame when `all_runs`, else the single run [0, 6) alone.
    CandidateTable(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, const FramePlan& plan,
                   bool all_runs)
        : n_(plan.endmant[channel]) {
        params_.csnroffst = kCostCsnroffst;
        params_.fsnroffst = plan.fsnroffst[channel];
        const int last_first = all_runs ? kBlocksPerFrame - 1 : 0;
        for (int first = 0; first <= last_first; ++first) {
            add_runs_from(blocks, channel, plan.tonality[channel], first, all_runs ? first + 1 : kBlocksPerFrame);
        }
        cost_waiting();
    }

    const ExponentCandidate& get(int first, int end) const { return table_[first][end]; }

private:
    // The runs [first, end) for end from first_end to 6, each set's minima
    // the previous run's with one more block.
    void add_runs_from(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, Tonality tonality,
                       int first, int first_end) {
        ExponentRow minima;
        minima.fill(24);
        bool switched = false;
        for (int end = first + 1; end <= kBlocksPerFrame; ++end) {
            const RawExponents& raw = blocks[end - 1].raw_exponents[channel];
            for (uint32_t k = 0; k < n_; ++k) minima[k] = std::min(minima[k], raw[k]);
            switched = switched || blocks[end - 1].blksw[channel] != 0;
            if (end < first_end) continue;
            for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
                if (strategy_tried(strategy, switched, tonality)) add(first, end, strategy, minima);
            }
        }
    }

    struct Waiting {
        int first = 0;
        int end = 0;
        uint8_t strategy = kExpD15;
        uint32_t groups = 0;
    };

    // Only the decoded exponents are costed; the winner's group codes are
    // made once the runs are chosen.
    void add(int first, int end, uint8_t strategy, const ExponentRow& minima) {
        const std::size_t i = waiting_count_++;
        const std::span<const uint8_t> coded(minima.data(), n_);
        waiting_[i] = Waiting{first, end, strategy, shape_exponents(coded, strategy, n_, shaped_[i])};
        stepped_band_psd(std::span<const uint8_t>(shaped_[i].data(), n_), group_size_of(strategy), n_,
                                  params_, bndpsd_[i]);
        if (waiting_count_ == kMaskLanes) cost_waiting();
    }

    // The mantissa bits of allocate_bits' baps, counted straight from the
    // masks; strategies of one run are compared in the order they were added.
    void cost_waiting() {
        const std::size_t count = std::exchange(waiting_count_, 0);
        if (count == 0) return;
        band_masks_from_psd(std::span<const BandPsd>(bndpsd_.data(), count), n_, params_,
                            std::span<BandMask>(masks_.data(), count));
        for (std::size_t i = 0; i < count; ++i) {
            const Waiting& w = waiting_[i];
            const uint32_t group_size = group_size_of(w.strategy);
            const uint32_t mantissa_bits =
                group_size == 1
                    ? tally_bits(tally_mantissas(shaped_[i], masks_[i], 0, n_, floor_, params_.csnroffst,
                                                 params_.fsnroffst))
                    : tally_bits(tally_stepped_mantissas(shaped_[i], group_size, masks_[i], n_, floor_,
                                                         params_.csnroffst, params_.fsnroffst));
            const uint32_t cost = static_cast<uint32_t>(w.end - w.first) * mantissa_bits + 7u * w.groups + 12u;
            ExponentCandidate& best = table_[w.first][w.end];
            if (cost < best.cost) {
                best.cost = cost;
                best.strategy = w.strategy;
            }
        }
    }

    uint32_t n_;
    BitAllocParams params_;
    int32_t floor_ = a52::floortab[BitAllocParams{}.floorcod];  // the cost model's codes are the defaults
    std::array<Waiting, kMaskLanes> waiting_{};
    std::array<ExponentRow, kMaskLanes> shaped_;
    std::array<BandPsd, kMaskLanes> bndpsd_;
    std::array<BandMask, kMaskLanes> masks_;
    std::size_t waiting_count_ = 0;
    std::array<std::array<ExponentCandidate, kBlocksPerFrame + 1>, kBlocksPerFrame> table_{};
};

// Run starts of a channel's cheapest split of the frame into exponent runs,
// ascending, ending with kBlocksPerFrame; a single run is {0, 6}.
struct RunBoundaries {
    std::array<int, kBlocksPerFrame + 1> starts{};
    int count = 0;  // number of runs
};

RunBoundaries single_run() {
    RunBoundaries runs;
    runs.starts[0] = 0;
    runs.starts[1] = kBlocksPerFrame;
    runs.count = 1;
    return runs;
}

// Shortest path over the run boundaries; the split replaces the single run
// only when it saves more than the margin.
RunBoundaries cheapest_runs(const CandidateTable& table) {
    std::array<uint32_t, kBlocksPerFrame + 1> best{};
    std::array<int, kBlocksPerFrame + 1> from{};
    best.fill(UINT32_MAX);
    best[0] = 0;
    for (int b = 1; b <= kBlocksPerFrame; ++b) {
        for (int a = 0; a < b; ++a) {
            const uint32_t sum = best[a] + table.get(a, b).cost;
            if (sum < best[b]) {
                best[b] = sum;
                from[b] = a;
            }
        }
    }
    if (!(best[kBlocksPerFrame] + kSegmentationMargin < table.get(0, kBlocksPerFrame).cost)) return single_run();

    std::array<int, kBlocksPerFrame + 1> reversed{};
    int count = 0;
    for (int b = kBlocksPerFrame; b > 0; b = from[b]) reversed[count++] = from[b];
    RunBoundaries runs;
    runs.count = count;
    for (int i = 0; i < count; ++i) runs.starts[i] = reversed[count - 1 - i];
    runs.starts[count] = kBlocksPerFrame;
    return runs;
}

void plan_coupling_exponents(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, const FramePlan& plan) {
    const ExponentRow minima = minimum_over_blocks(blocks, 0, kBlocksPerFrame, plan.coupling.cplendmant,
                                                   [](const BlockAnalysis& b) -> const RawExponents& {
                                                       return b.cpl_raw_exponents;
                                                   });
    const ExponentSet set = coupling_exponent_set(minima, plan.coupling.cplstrtmant, plan.coupling.cplendmant);
    for (BlockAnalysis& block : blocks) block.cpl_exponent_set = set;
}

void plan_lfe_exponents(std::array<BlockAnalysis, kBlocksPerFrame>& blocks) {
    const ExponentRow minima = minimum_over_blocks(blocks, 0, kBlocksPerFrame, kLfeCodedBins,
                                                   [](const BlockAnalysis& b) -> const RawExponents& {
                                                       return b.lfe_raw_exponents;
                                                   });
    const ExponentSet set = prepare_exponent_set(minima, kExpD15, kLfeCodedBins);
    for (BlockAnalysis& block : blocks) block.lfe_exponent_set = set;
}

}  // namespace

namespace {

ExponentRow channel_minima(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, int first, int end,
                           uint32_t bins) {
    return minimum_over_blocks(blocks, first, end, bins, [channel](const BlockAnalysis& b) -> const RawExponents& {
        return b.raw_exponents[channel];
    });
}

}  // namespace

void plan_exponent_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, FramePlan& plan, int nfbw, bool lfe,
                         bool exponent_adaptation, uint32_t bitrate_kbps) {
    const bool refresh = exponent_adaptation && !plan.coupling.in_use && nfbw <= 2 && bitrate_kbps >= kRefreshMinKbps;
    for (int c = 0; c < nfbw; ++c) {
        const CandidateTable table(blocks, c, plan, refresh);
        const RunBoundaries runs = refresh ? cheapest_runs(table) : single_run();
        for (int b = 0; b < kBlocksPerFrame; ++b) plan.chexpstr[b][c] = kExpReuse;
        for (int r = 0; r < runs.count; ++r) {
            const int first = runs.starts[r];
            const int end = runs.starts[r + 1];
            const uint8_t strategy = table.get(first, end).strategy;
            const uint32_t n = plan.endmant[c];
            const ExponentRow minima = channel_minima(blocks, c, first, end, n);
            const ExponentSet set = prepare_exponent_set(std::span<const uint8_t>(minima.data(), n), strategy, n);
            plan.chexpstr[first][c] = set.strategy;
            for (int b = first; b < end; ++b) blocks[b].exponent_sets[c] = set;
        }
    }
    if (plan.coupling.in_use) plan_coupling_exponents(blocks, plan);
    if (lfe) plan_lfe_exponents(blocks);
}

}  // namespace oskavi
