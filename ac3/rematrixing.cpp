#include "ac3/rematrixing.h"

#include <algorithm>
#include <array>

#include "ac3/exponents.h"
#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {

namespace {

// The energies of one band of one block, each summed over the band's bins in
// order: left, right, their sum and their difference.
struct BandEnergy {
    double left = 0.0;
    double right = 0.0;
    double sum = 0.0;
    double difference = 0.0;
};

BandEnergy band_energy(const double* left, const double* right, uint32_t first, uint32_t end) {
    BandEnergy e;
    for (uint32_t k = first; k < end; ++k) {
        const double l = left[k];
        const double r = right[k];
        e.left += l * l;
        e.right += r * r;
        e.sum += (l + r) * (l + r);
        e.difference += (l - r) * (l - r);
    }
    return e;
}

// Flag of one band: sum/difference wins when both of its channels carry
// strictly less energy than the weaker of left and right. The 1/2 of the
// transform is left out of both sides of the comparison.
uint8_t sum_difference_wins(const BandEnergy& e) {
    return std::min(e.left, e.right) > std::min(e.sum, e.difference) ? 1 : 0;
}

void rewrite_band(double* left, double* right, uint32_t first, uint32_t end) {
    for (uint32_t k = first; k < end; ++k) {
        const double l = left[k];
        const double r = right[k];
        left[k] = (l + r) / 2.0;
        right[k] = (l - r) / 2.0;
    }
}

// The bins [first, end) of each band, the last one cut at `upper_bin`; a
// band cut to nothing is empty.
std::array<RematrixBand, 4> bands_below(uint32_t upper_bin) {
    const uint32_t limit = std::min(upper_bin, kRematrixUpperBin);
    std::array<RematrixBand, 4> bands = kRematrixBands;
    for (RematrixBand& band : bands) band.end = std::max(band.first, std::min(band.end, limit));
    return bands;
}

// Energies of every band of every block of the frame, [block][band].
using FrameEnergies = std::array<std::array<BandEnergy, 4>, kBlocksPerFrame>;

FrameEnergies frame_energies_plain(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                                   const std::array<RematrixBand, 4>& bands) {
    FrameEnergies energies;
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        for (std::size_t band = 0; band < bands.size(); ++band) {
            energies[b][band] = band_energy(blocks[b].coefficients[0].data(), blocks[b].coefficients[1].data(),
                                            bands[band].first, bands[band].end);
        }
    }
    return energies;
}

#if OSKAVI_AVX2_KERNELS
// band_energy of four blocks side by side, lane j from block first + j (the
// lanes past the last block repeat it and are dropped): each lane sums its
// own bins in the same order with the same operations, so every sum is
// band_energy's to the last bit.
OSKAVI_AVX2 void four_block_energies(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks, int first,
                                     const std::array<RematrixBand, 4>& bands, FrameEnergies& energies) {
    std::array<const double*, 4> left;
    std::array<const double*, 4> right;
    for (int j = 0; j < 4; ++j) {
        const BlockAnalysis& block = blocks[std::min(first + j, kBlocksPerFrame - 1)];
        left[j] = block.coefficients[0].data();
        right[j] = block.coefficients[1].data();
    }
    for (std::size_t band = 0; band < bands.size(); ++band) {
        __m256d el = _mm256_setzero_pd();
        __m256d er = _mm256_setzero_pd();
        __m256d es = _mm256_setzero_pd();
        __m256d ed = _mm256_setzero_pd();
        for (uint32_t k = bands[band].first; k < bands[band].end; ++k) {
            const __m256d l = _mm256_setr_pd(left[0][k], left[1][k], left[2][k], left[3][k]);
            const __m256d r = _mm256_setr_pd(right[0][k], right[1][k], right[2][k], right[3][k]);
            const __m256d s = _mm256_add_pd(l, r);
            const __m256d d = _mm256_sub_pd(l, r);
            el = _mm256_add_pd(el, _mm256_mul_pd(l, l));
            er = _mm256_add_pd(er, _mm256_mul_pd(r, r));
            es = _mm256_add_pd(es, _mm256_mul_pd(s, s));
            ed = _mm256_add_pd(ed, _mm256_mul_pd(d, d));
        }
        alignas(32) std::array<std::array<double, 4>, 4> lanes;
        _mm256_store_pd(lanes[0].data(), el);
        _mm256_store_pd(lanes[1].data(), er);
        _mm256_store_pd(lanes[2].data(), es);
        _mm256_store_pd(lanes[3].data(), ed);
        for (int j = 0; j < 4 && first + j < kBlocksPerFrame; ++j)
            energies[first + j][band] = BandEnergy{lanes[0][j], lanes[1][j], lanes[2][j], lanes[3][j]};
    }
}
#endif

FrameEnergies frame_energies(const std::array<BlockAnalysis, kBlocksPerFrame>& blocks,
                             const std::array<RematrixBand, 4>& bands, bool vector_kernel) {
#if OSKAVI_AVX2_KERNELS
    if (vector_kernel && processor_has_avx2()) {
        FrameEnergies energies;
        for (int first = 0; first < kBlocksPerFrame; first += 4) four_block_energies(blocks, first, bands, energies);
        return energies;
    }
#else
    (void)vector_kernel;
#endif
    return frame_energies_plain(blocks, bands);
}

void rematrix_with(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin, bool vector_kernel) {
    const std::array<RematrixBand, 4> bands = bands_below(upper_bin);
    const FrameEnergies energies = frame_energies(blocks, bands, vector_kernel);
    for (int b = 0; b < kBlocksPerFrame; ++b) {
        BlockAnalysis& block = blocks[b];
        for (std::size_t band = 0; band < bands.size(); ++band) {
            const bool rewritten = bands[band].first < bands[band].end && sum_difference_wins(energies[b][band]);
            block.rematflg[band] = rewritten ? 1 : 0;
            if (rewritten) {
                rewrite_band(block.coefficients[0].data(), block.coefficients[1].data(), bands[band].first,
                             bands[band].end);
            }
        }
        // Exponent planning, bit allocation and mantissas must all see the
        // rematrixed values; untouched bands would give the same exponents
        // again, so a block with none rematrixed keeps its own.
        const bool rewritten = std::any_of(block.rematflg.begin(), block.rematflg.end(), [](uint8_t f) { return f != 0; });
        if (!rewritten) continue;
        block.raw_exponents[0] = raw_exponents(block.coefficients[0]);
        block.raw_exponents[1] = raw_exponents(block.coefficients[1]);
    }
}

}  // namespace

void rematrix_frame(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin) {
    rematrix_with(blocks, upper_bin, true);
}

void rematrix_frame_plain(std::array<BlockAnalysis, kBlocksPerFrame>& blocks, uint32_t upper_bin) {
    rematrix_with(blocks, upper_bin, false);
}

}  // namespace oskavi
