#include "ac3/band_masks.h"

#include <algorithm>
#include <stdexcept>

#include "ac3/bit_allocation_tables.h"
#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {
namespace {

#if OSKAVI_AVX2_KERNELS
// Each vector holds one band of eight allocations, lane i from row i. The
// steps are those of the scalar excitation, with every data-dependent choice
// made per lane by a select: the low-frequency compensation, and where each
// lane leaves the early stage (bands 2 to 6, while the band psd falls) for
// the leaky integration.
using Lanes = __m256i;

struct LaneCodes {
    Lanes sdecay, fdecay, sgain, fgain, dbknee;
};

OSKAVI_AVX2_INLINE Lanes broadcast(int32_t value) { return _mm256_set1_epi32(value); }

OSKAVI_AVX2_INLINE Lanes lowcomp_step(Lanes lowcomp, Lanes b0, Lanes b1, int band) {
    if (band >= 20) return _mm256_max_epi32(_mm256_sub_epi32(lowcomp, broadcast(128)), _mm256_setzero_si256());
    const Lanes decayed = _mm256_blendv_epi8(
        lowcomp, _mm256_max_epi32(_mm256_sub_epi32(lowcomp, broadcast(64)), _mm256_setzero_si256()),
        _mm256_cmpgt_epi32(b0, b1));
    const Lanes boosted = _mm256_cmpeq_epi32(_mm256_add_epi32(b0, broadcast(256)), b1);
    return _mm256_blendv_epi8(decayed, broadcast(band < 7 ? 384 : 320), boosted);
}

struct Leaks {
    Lanes fast;
    Lanes slow;
};

// One band of the leaky integration; returns max(fastleak - lowcomp, slowleak).
OSKAVI_AVX2_INLINE Lanes leak_step(Leaks& leaks, Lanes b, Lanes lowcomp, const LaneCodes& c) {
    leaks.fast = _mm256_max_epi32(_mm256_sub_epi32(leaks.fast, c.fdecay), _mm256_sub_epi32(b, c.fgain));
    leaks.slow = _mm256_max_epi32(_mm256_sub_epi32(leaks.slow, c.sdecay), _mm256_sub_epi32(b, c.sgain));
    return _mm256_max_epi32(_mm256_sub_epi32(leaks.fast, lowcomp), leaks.slow);
}

// Excitation of bands [0, bndend) from band psd `b` (b[band] for band <= bndend).
OSKAVI_AVX2_INLINE void excite_lanes(const Lanes* b, int bndend, const LaneCodes& c, Lanes* excite) {
    Lanes lowcomp = _mm256_setzero_si256();
    for (int band = 0; band < std::min(bndend, 2); ++band) {
        lowcomp = lowcomp_step(lowcomp, b[band], b[band + 1], band);
        excite[band] = _mm256_sub_epi32(_mm256_sub_epi32(b[band], c.fgain), lowcomp);
    }
    Leaks leaks{_mm256_setzero_si256(), _mm256_setzero_si256()};
    Lanes early = _mm256_set1_epi32(-1);  // lanes still in the early stage
    for (int band = 2; band < std::min(bndend, 7); ++band) {
        const bool last = band + 1 == bndend;
        if (!last) lowcomp = lowcomp_step(lowcomp, b[band], b[band + 1], band);
        const Leaks started{_mm256_sub_epi32(b[band], c.fgain), _mm256_sub_epi32(b[band], c.sgain)};
        const Lanes leaked = leak_step(leaks, b[band], lowcomp, c);
        leaks.fast = _mm256_blendv_epi8(leaks.fast, started.fast, early);
        leaks.slow = _mm256_blendv_epi8(leaks.slow, started.slow, early);
        excite[band] = _mm256_blendv_epi8(leaked, _mm256_sub_epi32(started.fast, lowcomp), early);
        // A lane leaves the early stage after the first band whose psd does not fall.
        if (!last) early = _mm256_and_si256(early, _mm256_cmpgt_epi32(b[band], b[band + 1]));
    }
    for (int band = 7; band < std::min(bndend, 22); ++band) {
        if (band + 1 != bndend) lowcomp = lowcomp_step(lowcomp, b[band], b[band + 1], band);
        excite[band] = leak_step(leaks, b[band], lowcomp, c);
    }
    for (int band = 22; band < bndend; ++band) excite[band] = leak_step(leaks, b[band], _mm256_setzero_si256(), c);
}

// The eight rows r[0..8) of an 8 x 8 block of 32-bit values become its
// columns: afterwards r[k] holds element k of every former row.
OSKAVI_AVX2_INLINE void transpose8(Lanes* r) {
    Lanes t[8];
    Lanes u[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        r[i] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x20);
        r[i + 4] = _mm256_permute2x128_si256(u[i], u[i + 4], 0x31);
    }
}

// Bands transposed eight at a time; the rest one lane at a time.
constexpr int kWholeBlocks = a52::kBandCount / 8 * 8;

OSKAVI_AVX2 void masks_avx2(std::span<const BandPsd> rows, int bndend, const BitAllocParams& p,
                            std::span<BandMask> masks) {
    const LaneCodes c{broadcast(a52::slowdec[p.sdcycod]), broadcast(a52::fastdec[p.fdcycod]),
                      broadcast(a52::slowgain[p.sgaincod]), broadcast(a52::fastgain[p.fgaincod]),
                      broadcast(a52::dbpbtab[p.dbpbcod])};
    // In: band by band across the rows (spare lanes repeat row 0).
    std::array<const int32_t*, kMaskLanes> row;
    for (std::size_t i = 0; i < kMaskLanes; ++i) row[i] = rows[i < rows.size() ? i : 0].data();
    Lanes b[a52::kBandCount + 1];
    for (int band = 0; band < kWholeBlocks; band += 8) {
        for (std::size_t i = 0; i < kMaskLanes; ++i)
            b[band + i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row[i] + band));
        transpose8(b + band);
    }
    alignas(32) std::array<int32_t, kMaskLanes> lane;
    for (int band = kWholeBlocks; band <= a52::kBandCount; ++band) {
        for (std::size_t i = 0; i < kMaskLanes; ++i) lane[i] = row[i][band];
        b[band] = _mm256_load_si256(reinterpret_cast<const __m256i*>(lane.data()));
    }
    Lanes excite[a52::kBandCount];
    excite_lanes(b, bndend, c, excite);
    Lanes mask[a52::kBandCount];
    for (int band = 0; band < a52::kBandCount; ++band) {
        if (band >= bndend) {
            mask[band] = _mm256_setzero_si256();
            continue;
        }
        // Below dbknee the excitation rises by a quarter of the shortfall.
        const Lanes shortfall = _mm256_max_epi32(_mm256_sub_epi32(c.dbknee, b[band]), _mm256_setzero_si256());
        const Lanes raised = _mm256_add_epi32(excite[band], _mm256_srai_epi32(shortfall, 2));
        mask[band] = _mm256_max_epi32(raised, broadcast(a52::hth[band]));
    }
    // Out: back to one row per allocation.
    for (int band = 0; band < kWholeBlocks; band += 8) {
        transpose8(mask + band);
        for (std::size_t i = 0; i < masks.size(); ++i)
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(masks[i].data() + band), mask[band + i]);
    }
    for (int band = kWholeBlocks; band < a52::kBandCount; ++band) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(lane.data()), mask[band]);
        for (std::size_t i = 0; i < masks.size(); ++i) masks[i][band] = lane[i];
    }
}
#endif

void check_masking(std::span<const BandPsd> rows, uint32_t end, const BitAllocParams& p, std::span<BandMask> masks) {
    if (p.sdcycod > 3 || p.fdcycod > 3 || p.sgaincod > 3 || p.dbpbcod > 3 || p.floorcod > 7 || p.fgaincod > 7 ||
        p.csnroffst > 63 || p.fsnroffst > 15) {
        throw std::runtime_error("invalid bit-allocation parameter");
    }
    const bool range_ok = end != 0 && end <= static_cast<uint32_t>(kMaxCodedBins);
    if (!range_ok || rows.size() > kMaskLanes || rows.size() != masks.size())
        throw std::runtime_error("invalid bit-allocation mantissa range");
}

}  // namespace

void band_masks_from_psd(std::span<const BandPsd> bndpsd, uint32_t end, const BitAllocParams& params,
                         std::span<BandMask> masks, MaskKernel kernel) {
    check_masking(bndpsd, end, params, masks);
    if (bndpsd.empty()) return;
#if OSKAVI_AVX2_KERNELS
    if (kernel == MaskKernel::Fastest && processor_has_avx2()) {
        masks_avx2(bndpsd, a52::masktab[end - 1] + 1, params, masks);
        return;
    }
#else
    (void)kernel;
#endif
    for (std::size_t i = 0; i < bndpsd.size(); ++i) band_mask_from_psd(bndpsd[i], end, params, masks[i]);
}

}  // namespace oskavi
