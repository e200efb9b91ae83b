#include "ac3/exponent_strategy.h"

#include <algorithm>
#include <optional>
#include <span>

#include "ac3/bit_allocation.h"
#include "ac3/coupling.h"
#include "ac3/exponents.h"
#include "ac3/mantissa_tally.h"

namespace oskavi {

namespace {

constexpr uint32_t kRefreshMinKbps = 448;
constexpr uint32_t kSegmentationMargin = 96;  // bits a split must save
constexpr double kTonalFlatness = 0.08;
constexpr double kSemiTonalFlatness = 0.25;

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

bool strategy_tried(uint8_t strategy, bool switched, double flatness) {
    if (switched) return strategy == kExpD45;
    if (flatness < kTonalFlatness) return strategy == kExpD15;
    if (flatness < kSemiTonalFlatness) return strategy != kExpD45;
    return true;
}

// Candidates of one channel by run start and end, each costed at most once.
class CandidateTable {
public:
    CandidateTable(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, const FramePlan& plan)
        : blocks_(blocks), channel_(channel), plan_(plan) {}

    const ExponentCandidate& get(int first, int end) {
        std::optional<ExponentCandidate>& entry = table_[first][end];
        if (!entry) entry = segment_cost(blocks_, channel_, first, end, plan_);
        return *entry;
    }

private:
    const std::array<BlockAnalysis, kBlocksPerFrame>& blocks_;
    int channel_;
    const FramePlan& plan_;
    std::array<std::array<std::optional<ExponentCandidate>, kBlocksPerFrame + 1>, kBlocksPerFrame> table_{};
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
RunBoundaries cheapest_runs(CandidateTable& table) {
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

ExponentCandidate segment_cost(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int channel, int first,
                               int end, const FramePlan& plan) {
    const uint32_t n = plan.endmant[channel];
    const ExponentRow minima = channel_minima(blocks, channel, first, end, n);
    bool switched = false;
    for (int b = first; b < end; ++b) switched = switched || blocks[b].blksw[channel] != 0;

    BitAllocParams params;
    params.csnroffst = kCostCsnroffst;
    params.fsnroffst = plan.fsnroffst[channel];

    ExponentCandidate best;
    const std::span<const uint8_t> coded(minima.data(), n);
    for (uint8_t strategy : {kExpD15, kExpD25, kExpD45}) {
        if (!strategy_tried(strategy, switched, plan.flatness[channel])) continue;
        // Only the decoded exponents are costed; the winner's group codes are
        // made once the runs are chosen.
        ExponentRow shaped;
        const uint32_t groups = shape_exponents(coded, strategy, n, shaped);
        // The mantissa bits of allocate_bits' baps, counted straight from the mask.
        std::array<int32_t, 50> band_mask;
        const uint32_t group_size = strategy == kExpD15 ? 1 : strategy == kExpD25 ? 2 : 4;
        const int32_t floor =
            compute_stepped_band_mask(std::span<const uint8_t>(shaped.data(), n), group_size, n, params, band_mask);
        const uint32_t mantissa_bits =
            strategy == kExpD15
                ? tally_bits(tally_mantissas(shaped.data(), band_mask, 0, n, floor, params.csnroffst,
                                             params.fsnroffst))
                : tally_bits(tally_stepped_mantissas(shaped.data(), group_size, band_mask, n,
                                                     floor, params.csnroffst, params.fsnroffst));
        const uint32_t cost = static_cast<uint32_t>(end - first) * mantissa_bits + 7u * groups + 12u;
        if (cost < best.cost) {
            best.cost = cost;
            best.strategy = strategy;
        }
    }
    return best;
}

void plan_exponent_reuse(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, FramePlan& plan, int nfbw, bool lfe,
                         bool exponent_adaptation, uint32_t bitrate_kbps) {
    const bool refresh = exponent_adaptation && !plan.coupling.in_use && nfbw <= 2 && bitrate_kbps >= kRefreshMinKbps;
    for (int c = 0; c < nfbw; ++c) {
        CandidateTable table(blocks, c, plan);
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
