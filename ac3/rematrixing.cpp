#include "ac3/rematrixing.h"

#include <algorithm>

#include "ac3/exponents.h"

namespace oskavi {

namespace {

// Flag of one band: sum/difference wins when both of its channels carry
// strictly less energy than the weaker of left and right. The 1/2 of the
// transform is left out of both sides of the comparison.
uint8_t rematrix_band(std::span<double, kBinsPerBlock> left, std::span<double, kBinsPerBlock> right, uint32_t first,
                      uint32_t end) {
    double el = 0.0;
    double er = 0.0;
    double es = 0.0;
    double ed = 0.0;
    for (uint32_t k = first; k < end; ++k) {
        const double l = left[k];
        const double r = right[k];
        el += l * l;
        er += r * r;
        es += (l + r) * (l + r);
        ed += (l - r) * (l - r);
    }
    if (!(std::min(el, er) > std::min(es, ed))) return 0;
    for (uint32_t k = first; k < end; ++k) {
        const double l = left[k];
        const double r = right[k];
        left[k] = (l + r) / 2.0;
        right[k] = (l - r) / 2.0;
    }
    return 1;
}

}  // namespace

std::array<uint8_t, 4> rematrix_block(std::span<double, kBinsPerBlock> left, std::span<double, kBinsPerBlock> right,
                                      uint32_t upper_bin) {
    const uint32_t limit = std::min(upper_bin, kRematrixUpperBin);
    std::array<uint8_t, 4> flags{};
    for (size_t b = 0; b < kRematrixBands.size(); ++b) {
        const uint32_t first = kRematrixBands[b].first;
        const uint32_t end = std::min(kRematrixBands[b].end, limit);
        if (first < end) flags[b] = rematrix_band(left, right, first, end);
    }
    return flags;
}

void rematrix_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin) {
    for (BlockAnalysis& block : blocks) {
        block.rematflg = rematrix_block(block.coefficients[0], block.coefficients[1], upper_bin);
        // Exponent planning, bit allocation and mantissas must all see the
        // rematrixed values; untouched bands would give the same exponents
        // again, so a block with none rematrixed keeps its own.
        const bool rewritten = std::any_of(block.rematflg.begin(), block.rematflg.end(), [](uint8_t f) { return f != 0; });
        if (!rewritten) continue;
        block.raw_exponents[0] = raw_exponents(block.coefficients[0]);
        block.raw_exponents[1] = raw_exponents(block.coefficients[1]);
    }
}

}  // namespace oskavi
