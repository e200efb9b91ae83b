#include "ac3/bit_allocation.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "ac3/bit_allocation_tables.h"
#include "ac3/byte_lanes.h"
#include "ac3/short_runs.h"
#include "platform/processor_features.h"

#if OSKAVI_AVX2_KERNELS
#include <immintrin.h>
#endif

namespace oskavi {
namespace {

// All allocation arithmetic is on signed 32-bit integers, as in an A/52
// decoder; a wider or unsigned type would change results at the edges.
using i32 = int32_t;

constexpr uint32_t kMaxAllocationEnd = kMaxCodedBins;

struct LeakStart {
    i32 fastleak = 0;
    i32 slowleak = 0;
};

void check_codes(const BitAllocParams& p) {
    if (p.sdcycod > 3 || p.fdcycod > 3 || p.sgaincod > 3 || p.dbpbcod > 3 || p.floorcod > 7 ||
        p.fgaincod > 7 || p.csnroffst > 63 || p.fsnroffst > 15) {
        throw std::runtime_error("invalid bit-allocation parameter");
    }
}

void check_range(std::span<const uint8_t> exponents, uint32_t start, uint32_t end) {
    if (start >= end || end > exponents.size() || end > kMaxAllocationEnd || exponents.size() > kBinsPerBlock) {
        throw std::runtime_error("invalid bit-allocation mantissa range");
    }
}

void check_range_end(uint32_t end) {
    if (end == 0 || end > kMaxAllocationEnd) throw std::runtime_error("invalid bit-allocation mantissa range");
}

void check_leaks(uint8_t cplfleak, uint8_t cplsleak) {
    if (cplfleak >= 8 || cplsleak >= 8) {
        throw std::runtime_error("invalid coupling leak parameter");
    }
}

// The larger of a and b (what a - b >= 0 selects) plus the latab correction.
i32 log_add(i32 a, i32 b) {
    const i32 d = a - b;
    const i32 index = std::min((d < 0 ? -d : d) >> 1, i32{255});
    return std::max(a, b) + a52::latab[index];
}

// With every exponent of the range at most 24 the psd lies in [0, 3072] and
// a band's running log-add in [0, 3072 + 64 * 23] (at most 23 additions of
// at most 64), so the difference a - b of any log-add inside a band lies in
// [-3072, 4544]: there the latab correction is looked up by the difference
// itself, with the absolute value, halving and clamping folded into the table.
constexpr i32 kLowestDifference = -3072;
constexpr i32 kHighestDifference = 3072 + 64 * 23;
constexpr std::size_t kDifferenceCount = static_cast<std::size_t>(kHighestDifference - kLowestDifference + 1);

// A log-add as a function of the difference: with d = v - p,
// log_add(v, p) = p + max(d, 0) + latab correction = p + step(d). A run of k
// bins of equal psd p is step applied k times, again a function of d alone,
// so kLogAddByDifference.by_run[k - 1][d - kLowestDifference] holds what k steps
// add to p and one lookup replaces k dependent log-adds. Every intermediate
// difference stays inside the table's domain (the bounds above hold after
// each step).
constexpr std::size_t kLongestRun = 4;

constexpr i32 log_add_step(i32 d) {
    return std::max(d, i32{0}) + a52::latab[static_cast<std::size_t>(std::min((d < 0 ? -d : d) >> 1, i32{255}))];
}

struct LogAddTables {
    std::array<std::array<int16_t, kDifferenceCount>, kLongestRun> by_run{};
    bool fit = true;  // every entry fits its 16 bits
};

constexpr LogAddTables make_log_add_tables() {
    LogAddTables tables;
    for (std::size_t i = 0; i < kDifferenceCount; ++i) {
        i32 d = static_cast<i32>(i) + kLowestDifference;
        for (std::size_t k = 0; k < kLongestRun; ++k) {
            d = log_add_step(d);
            tables.fit = tables.fit && d >= INT16_MIN && d <= INT16_MAX;
            tables.by_run[k][i] = static_cast<int16_t>(d);
        }
    }
    return tables;
}

constexpr LogAddTables kLogAddByDifference = make_log_add_tables();
static_assert(kLogAddByDifference.fit);

// log_add(v, p) applied `count` (1..kLongestRun) times, for differences in
// the table. (Indexed from the entry of difference 0, which saves an add.)
// Int is i32, or a wider type where the operands are kept wide.
template <typename Int>
Int log_add_run(Int v, Int p, uint32_t count) {
    const int16_t* by_difference = kLogAddByDifference.by_run[count - 1].data() - kLowestDifference;
    return p + by_difference[v - p];
}

// log_add for operands whose difference is known to lie in the table.
i32 log_add_bounded(i32 a, i32 b) { return log_add_run(a, b, 1); }

// Last bin (exclusive) of a band, clipped to the allocation range.
uint32_t band_end(int band, uint32_t end) {
    return std::min<uint32_t>(a52::bndtab[band] + a52::bndsz[band], end);
}

// A/52 low-frequency compensation for one band, from the previous value.
// (Written with selects rather than early returns: the comparisons depend
// on the signal and would be mispredicted as branches.)
i32 update_lowcomp(i32 lowcomp, i32 b0, i32 b1, int band) {
    if (band >= 20) return std::max(lowcomp - 128, i32{0});
    const i32 boost = band < 7 ? 384 : 320;
    const i32 decayed = b0 > b1 ? std::max(lowcomp - 64, i32{0}) : lowcomp;
    return b0 + 256 == b1 ? boost : decayed;
}

struct AllocationCodes {
    i32 sdecay;
    i32 fdecay;
    i32 sgain;
    i32 fgain;
    i32 dbknee;
};

AllocationCodes look_up_codes(const BitAllocParams& p) {
    return {a52::slowdec[p.sdcycod], a52::fastdec[p.fdcycod], a52::slowgain[p.sgaincod], a52::fastgain[p.fgaincod],
            a52::dbpbtab[p.dbpbcod]};
}

using BandValues = BandPsd;
static_assert(std::tuple_size_v<BandValues> == a52::kBandCount + 1);

// The psd of the bins [start, end) of an allocation range (psd[bin] for a
// bin of the range; nothing outside it is read).
struct PsdRange {
    const i32* psd;
    uint32_t start;
    uint32_t end;
};

// Log-add of the psd of bins [first, last) in bin order.
template <i32 (*LogAdd)(i32, i32)>
i32 integrate_band(const PsdRange& m, uint32_t first, uint32_t last) {
    i32 value = m.psd[first];
    for (uint32_t bin = first + 1; bin < last; ++bin) value = LogAdd(value, m.psd[bin]);
    return value;
}

// Bands [band, band + count) of equal `width`, all wholly inside the range:
// each band's log-add runs in bin order, and the bands side by side so that
// their latency-bound chains overlap. Width-1 bands are their single psd.
template <i32 (*LogAdd)(i32, i32)>
void integrate_equal_bands(const PsdRange& m, int band, int count, uint32_t width, BandValues& bndpsd) {
    constexpr int kMaxRun = 8;  // bands summed side by side at most
    const uint32_t base = a52::bndtab[band];
    for (int first = 0; first < count; first += kMaxRun) {
        const int lanes = std::min(kMaxRun, count - first);
        std::array<i32, kMaxRun> value{};
        for (int l = 0; l < lanes; ++l) value[l] = m.psd[base + (first + l) * width];
        for (uint32_t j = 1; j < width; ++j) {
            for (int l = 0; l < lanes; ++l) value[l] = LogAdd(value[l], m.psd[base + (first + l) * width + j]);
        }
        for (int l = 0; l < lanes; ++l) bndpsd[band + first + l] = value[l];
    }
}

// For each band, the first band after it of another width (kBandCount after
// the last run): the end of its run of equal-width bands.
constexpr std::array<int, a52::kBandCount> make_equal_width_ends() {
    std::array<int, a52::kBandCount> ends{};
    for (int band = a52::kBandCount - 1; band >= 0; --band) {
        const bool same_next = band + 1 < a52::kBandCount && a52::bndsz[band + 1] == a52::bndsz[band];
        ends[static_cast<std::size_t>(band)] = same_next ? ends[static_cast<std::size_t>(band + 1)] : band + 1;
    }
    return ends;
}

constexpr std::array<int, a52::kBandCount> kEqualWidthEnd = make_equal_width_ends();

// Log-adds the psd of the bins of each band inside [start, end), in bin
// order within each band. A band cut by either end of the range is summed on
// its own; the whole bands in between go in runs of equal width.
template <i32 (*LogAdd)(i32, i32)>
void integrate_bands(const PsdRange& m, BandValues& bndpsd) {
    int band = a52::masktab[m.start];
    const int last_band = a52::masktab[m.end - 1];
    if (a52::bndtab[band] < m.start || band_end(band, m.end) < a52::bndtab[band] + a52::bndsz[band]) {
        bndpsd[band] = integrate_band<LogAdd>(m, m.start, band_end(band, m.end));
        ++band;
    }
    if (band > last_band) return;
    const bool last_cut = band_end(last_band, m.end) < a52::bndtab[last_band] + a52::bndsz[last_band];
    const int whole_end = last_cut ? last_band : last_band + 1;
    while (band < whole_end) {
        const int run_end = std::min(kEqualWidthEnd[static_cast<std::size_t>(band)], whole_end);
        integrate_equal_bands<LogAdd>(m, band, run_end - band, a52::bndsz[band], bndpsd);
        band = run_end;
    }
    if (last_cut) bndpsd[last_band] = integrate_band<LogAdd>(m, a52::bndtab[last_band], m.end);
}

// Log-add of the psd of bins [first, last) in bin order, a run of equal
// exponents (see exponent_step_end) at a time.
template <uint32_t GroupSize>
i32 integrate_runs(const i32* psd, uint32_t first, uint32_t last) {
    i32 value = psd[first];
    for (uint32_t bin = first + 1; bin < last;) {
        const uint32_t end = exponent_step_end<GroupSize>(bin, last);
        value = log_add_run(value, psd[bin], end - bin);
        bin = end;
    }
    return value;
}

// A wide band holds at most 23 runs after its first bin.
constexpr uint32_t kMostRuns = 23;

struct Run {
    uint32_t bin = 0;
    uint32_t count = 0;  // 0: the band has fewer runs
};

// Run number `index` (from 0) of wide band `band`.
template <uint32_t GroupSize>
constexpr Run run_of(int band, uint32_t index) {
    const uint32_t last = a52::bndtab[band] + a52::bndsz[band];
    uint32_t bin = a52::bndtab[band] + 1;
    for (uint32_t i = 0; bin < last; ++i) {
        const uint32_t end = exponent_step_end<GroupSize>(bin, last);
        if (i == index) return Run{bin, end - bin};
        bin = end;
    }
    return Run{};
}

// The running log-add of one wide band, kept in a local of pointer width:
// no store can alias it, and it indexes the tables without a sign extension.
using Chain = std::ptrdiff_t;
constexpr int kWideBands = a52::kBandCount - kFirstWideBand;

// The chains of one call, each in a register of its own.
constexpr int kChainsAtOnce = 11;
using Chains = std::array<Chain, kChainsAtOnce>;

// Marks every running value as read and rewritten here, so that none of the
// next round's work can start before all of this round's is done. Left to
// itself the compiler runs each chain to its end before the next (fewer
// registers live at once), and the processor, which then sees only a couple
// of chains at a time, waits out every lookup's latency. Nothing goes
// through memory: the chains stay in registers.
// (A 32-bit processor has too few registers: there some chains wait in memory.)
#if defined(__x86_64__)
#define OSKAVI_CHAIN "+r"
#else
#define OSKAVI_CHAIN "+rm"
#endif
[[gnu::always_inline]] inline void end_round(Chains& c) {
    asm volatile(""
                 : OSKAVI_CHAIN(c[0]), OSKAVI_CHAIN(c[1]), OSKAVI_CHAIN(c[2]), OSKAVI_CHAIN(c[3]), OSKAVI_CHAIN(c[4]),
                   OSKAVI_CHAIN(c[5]), OSKAVI_CHAIN(c[6]), OSKAVI_CHAIN(c[7]), OSKAVI_CHAIN(c[8]), OSKAVI_CHAIN(c[9]),
                   OSKAVI_CHAIN(c[10]));
}
#undef OSKAVI_CHAIN

// Run `Index` of each of the wide bands First.. in turn: every round adds
// one more run to each chain (chain[i] is band kFirstWideBand + First + i).
template <uint32_t GroupSize, int First, uint32_t Index, int... Lanes>
[[gnu::always_inline]] inline void add_round(const i32* psd, Chains& chain, std::integer_sequence<int, Lanes...>) {
    const auto add = [psd, &chain]<int Lane>() {
        constexpr Run run = run_of<GroupSize>(kFirstWideBand + First + Lane, Index);
        if constexpr (run.count > 0) chain[Lane] = log_add_run<Chain>(chain[Lane], psd[run.bin], run.count);
    };
    (add.template operator()<Lanes>(), ...);
    end_round(chain);
}

// The chains of the eleven wide bands from band kFirstWideBand + First, into
// bndpsd. Eleven chains and the table's address fit the processor's
// registers, and eleven are still enough to overlap each chain's wait on its
// table lookup.
template <uint32_t GroupSize, int First, uint32_t... Indices>
[[gnu::always_inline]] inline void add_band_chains(const i32* psd, BandValues& bndpsd,
                                                   std::integer_sequence<uint32_t, Indices...>) {
    Chains chain;
    for (int i = 0; i < kChainsAtOnce; ++i) chain[i] = psd[a52::bndtab[kFirstWideBand + First + i]];
    (add_round<GroupSize, First, Indices>(psd, chain, std::make_integer_sequence<int, kChainsAtOnce>()), ...);
    for (int i = 0; i < kChainsAtOnce; ++i) bndpsd[kFirstWideBand + First + i] = static_cast<i32>(chain[i]);
}

// integrate_bands over [0, end) for a set of GroupSize-bin steps (see
// exponent_step_end) with every exponent at most 24; psd[bin] must be valid
// for every bin below kBinsPerBlock. Each band on its own is a latency-bound
// chain of log-adds, so the chains of all 22 wide bands advance together,
// one run of each per round, and the processor overlaps them. The bands
// beyond `end` are summed over whatever the padding holds and ignored; a
// band cut by `end` is summed again over its bins inside the range.
template <uint32_t GroupSize>
void integrate_bands_from_zero(const i32* psd, uint32_t end, BandValues& bndpsd) {
    // The one-bin bands (all of them: psd is valid beyond the range).
    std::copy(psd, psd + kFirstWideBand, bndpsd.begin());
    if (end <= static_cast<uint32_t>(kFirstWideBand)) return;
    static_assert(kWideBands == 2 * kChainsAtOnce);
    add_band_chains<GroupSize, 0>(psd, bndpsd, std::make_integer_sequence<uint32_t, kMostRuns>());
    add_band_chains<GroupSize, kChainsAtOnce>(psd, bndpsd, std::make_integer_sequence<uint32_t, kMostRuns>());
    const int last_band = a52::masktab[end - 1];
    if (band_end(last_band, end) < a52::bndtab[last_band] + a52::bndsz[last_band])
        bndpsd[last_band] = integrate_runs<GroupSize>(psd, a52::bndtab[last_band], end);
}

// Excitation of a range starting at bin 0 (full-bandwidth and LFE channels):
// low-frequency compensation below band 22, fast and slow leaks throughout.
// The last band of the range gets no lowcomp update and ends no early stage,
// as a decoder does at band 6 of the LFE channel.
void excite_from_band_zero(const BandValues& bndpsd, int bndend, const AllocationCodes& c, BandValues& excite) {
    i32 lowcomp = 0;
    for (int band = 0; band < std::min(bndend, 2); ++band) {
        lowcomp = update_lowcomp(lowcomp, bndpsd[band], bndpsd[band + 1], band);
        excite[band] = bndpsd[band] - c.fgain - lowcomp;
    }
    i32 fastleak = 0;
    i32 slowleak = 0;
    int begin = 7;
    for (int band = 2; band < std::min(bndend, 7); ++band) {
        const bool last = band + 1 == bndend;
        if (!last) lowcomp = update_lowcomp(lowcomp, bndpsd[band], bndpsd[band + 1], band);
        fastleak = bndpsd[band] - c.fgain;
        slowleak = bndpsd[band] - c.sgain;
        excite[band] = fastleak - lowcomp;
        if (!last && bndpsd[band] <= bndpsd[band + 1]) {
            begin = band + 1;
            break;
        }
    }
    for (int band = begin; band < std::min(bndend, 22); ++band) {
        if (band + 1 != bndend) lowcomp = update_lowcomp(lowcomp, bndpsd[band], bndpsd[band + 1], band);
        fastleak = std::max(fastleak - c.fdecay, bndpsd[band] - c.fgain);
        slowleak = std::max(slowleak - c.sdecay, bndpsd[band] - c.sgain);
        excite[band] = std::max(fastleak - lowcomp, slowleak);
    }
    for (int band = 22; band < bndend; ++band) {
        fastleak = std::max(fastleak - c.fdecay, bndpsd[band] - c.fgain);
        slowleak = std::max(slowleak - c.sdecay, bndpsd[band] - c.sgain);
        excite[band] = std::max(fastleak, slowleak);
    }
}

// Excitation of a range starting above band 0 (coupling channel): leaks only,
// started from the transmitted leak codes.
void excite_from_leaks(const BandValues& bndpsd, int bndstrt, int bndend, const AllocationCodes& c, LeakStart leaks,
                       BandValues& excite) {
    i32 fastleak = leaks.fastleak;
    i32 slowleak = leaks.slowleak;
    for (int band = bndstrt; band < bndend; ++band) {
        fastleak = std::max(fastleak - c.fdecay, bndpsd[band] - c.fgain);
        slowleak = std::max(slowleak - c.sdecay, bndpsd[band] - c.sgain);
        excite[band] = std::max(fastleak, slowleak);
    }
}

// The band masks of the range [start, end) from its psd, written to
// mask[masktab[start] .. masktab[end - 1]]; `largest` is the largest exponent
// of the range.
void mask_from_band_psd(const BandValues& bndpsd, const PsdRange& range, const BitAllocParams& params,
                        LeakStart leaks, i32* mask) {
    const AllocationCodes codes = look_up_codes(params);
    const int bndstrt = a52::masktab[range.start];
    const int bndend = a52::masktab[range.end - 1] + 1;
    BandValues excite{};
    if (bndstrt == 0) {
        excite_from_band_zero(bndpsd, bndend, codes, excite);
    } else {
        excite_from_leaks(bndpsd, bndstrt, bndend, codes, leaks, excite);
    }
    for (int band = bndstrt; band < bndend; ++band) {
        // Below dbknee the excitation rises by a quarter of the shortfall.
        const i32 e = excite[band] + (std::max(codes.dbknee - bndpsd[band], i32{0}) >> 2);
        mask[band] = std::max(e, a52::hth[band]);
    }
}

void build_band_mask(const PsdRange& range, uint8_t largest, const BitAllocParams& params, LeakStart leaks,
                     i32* mask) {
    BandValues bndpsd{};
    if (largest <= 24) {
        integrate_bands<log_add_bounded>(range, bndpsd);
    } else {
        integrate_bands<log_add>(range, bndpsd);
    }
    mask_from_band_psd(bndpsd, range, params, leaks, mask);
}

// psd[bin] = 3072 - 128 * exponent over [start, end); returns the largest
// exponent of the range.
uint8_t fill_psd(std::span<const uint8_t> exponents, uint32_t start, uint32_t end, i32* psd) {
    uint8_t largest = 0;
    for (uint32_t bin = start; bin < end; ++bin) {
        psd[bin] = 3072 - (i32{exponents[bin]} << 7);
        largest = std::max(largest, exponents[bin]);
    }
    return largest;
}

#if OSKAVI_AVX2_KERNELS
// fill_psd of the 32 bins from `first`, their largest exponent folded into
// `largest` (lane by lane).
OSKAVI_AVX2_INLINE void fill_thirty_two_psd(const uint8_t* exponents, uint32_t first, i32* psd, __m256i& largest) {
    const uint8_t* e = exponents + first;
    largest = _mm256_max_epu8(largest, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(e)));
    for (uint32_t q = 0; q < 32; q += 8) {
        const __m256i wide = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(e + q)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(psd + first + q),
                            _mm256_sub_epi32(_mm256_set1_epi32(3072), _mm256_slli_epi32(wide, 7)));
    }
}

// fill_psd over [0, end) for end >= 32, 32 bins at a time; a last part of
// fewer is done as the 32 bins ending at `end` (bins done twice come out
// the same).
OSKAVI_AVX2 uint8_t fill_psd_from_zero_avx2(const uint8_t* exponents, uint32_t end, i32* psd) {
    __m256i largest = _mm256_setzero_si256();
    uint32_t first = 0;
    for (; first + 32 <= end; first += 32) fill_thirty_two_psd(exponents, first, psd, largest);
    if (first < end) fill_thirty_two_psd(exponents, end - 32, psd, largest);
    return largest_byte(largest);
}
#endif

uint8_t fill_psd_from_zero(std::span<const uint8_t> exponents, uint32_t end, i32* psd) {
#if OSKAVI_AVX2_KERNELS
    if (end >= 32 && processor_has_avx2()) return fill_psd_from_zero_avx2(exponents.data(), end, psd);
#endif
    return fill_psd(exponents, 0, end, psd);
}

BitAllocationMask build_mask(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                             const BitAllocParams& params, LeakStart leaks) {
    BitAllocationMask m;
    m.floor = a52::floortab[params.floorcod];
    m.start = static_cast<uint16_t>(start);
    m.end = static_cast<uint16_t>(end);
    m.size = static_cast<uint16_t>(exponents.size());
    const uint8_t largest = fill_psd(exponents, start, end, m.psd.data());
    build_band_mask(PsdRange{m.psd.data(), start, end}, largest, params, leaks, m.mask.data());
    return m;
}

BapVector zero_baps(std::size_t size) {
    BapVector baps;
    baps.size = static_cast<uint16_t>(size);
    return baps;
}

}  // namespace

BitAllocationMask compute_allocation_mask(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                                          const BitAllocParams& params) {
    check_range(exponents, start, end);
    check_codes(params);
    return build_mask(exponents, start, end, params, LeakStart{});
}

int32_t stepped_band_psd(std::span<const uint8_t> exponents, uint32_t group_size, uint32_t end,
                         const BitAllocParams& params, BandPsd& bndpsd) {
    check_range(exponents, 0, end);
    check_codes(params);
    if (group_size != 1 && group_size != 2 && group_size != 4) throw std::runtime_error("invalid exponent group size");
    std::array<i32, kBinsPerBlock> psd;
    const uint8_t largest = fill_psd_from_zero(exponents, end, psd.data());
    if (largest > 24) {
        integrate_bands<log_add>(PsdRange{psd.data(), 0, end}, bndpsd);
        return a52::floortab[params.floorcod];
    }
    // The bands beyond the range are summed too (and then ignored): give
    // them a psd inside the log-add table's domain.
    fill_short(psd.data() + end, psd.size() - end, i32{0});
    if (group_size == 1) {
        integrate_bands_from_zero<1>(psd.data(), end, bndpsd);
    } else if (group_size == 2) {
        integrate_bands_from_zero<2>(psd.data(), end, bndpsd);
    } else {
        integrate_bands_from_zero<4>(psd.data(), end, bndpsd);
    }
    return a52::floortab[params.floorcod];
}

void band_mask_from_psd(const BandPsd& bndpsd, uint32_t end, const BitAllocParams& params,
                        std::span<int32_t, 50> mask) {
    check_range_end(end);
    check_codes(params);
    mask_from_band_psd(bndpsd, PsdRange{nullptr, 0, end}, params, LeakStart{}, mask.data());
}

int32_t compute_stepped_band_mask(std::span<const uint8_t> exponents, uint32_t group_size, uint32_t end,
                                  const BitAllocParams& params, std::span<int32_t, 50> mask) {
    BandPsd bndpsd{};
    const int32_t floor = stepped_band_psd(exponents, group_size, end, params, bndpsd);
    band_mask_from_psd(bndpsd, end, params, mask);
    return floor;
}

BitAllocationMask compute_coupling_allocation_mask(std::span<const uint8_t> exponents, uint32_t start,
                                                   uint32_t end, const BitAllocParams& params,
                                                   uint8_t cplfleak, uint8_t cplsleak) {
    check_range(exponents, start, end);
    check_codes(params);
    check_leaks(cplfleak, cplsleak);
    const LeakStart leaks{(i32{cplfleak} << 8) + 768, (i32{cplsleak} << 8) + 768};
    return build_mask(exponents, start, end, params, leaks);
}

BapVector baps_from_mask(const BitAllocationMask& m, uint8_t csnroffst, uint8_t fsnroffst) {
    if (csnroffst > 63 || fsnroffst > 15) throw std::runtime_error("invalid bit-allocation parameter");
    BapVector baps = zero_baps(m.size);
    // An SNR offset code of zero (csnroffst 0, fsnroffst 0) means "no
    // mantissas at all" to a decoder; the model is not run.
    if (csnroffst == 0 && fsnroffst == 0) return baps;
    const i32 snroffset = ((((i32{csnroffst} - 15) << 4) + i32{fsnroffst}) << 2);
    uint32_t bin = m.start;
    for (int band = a52::masktab[m.start]; bin < m.end; ++band) {
        const uint32_t last = band_end(band, m.end);
        i32 mask = m.mask[band] - snroffset - m.floor;
        if (mask < 0) mask = 0;
        mask = (mask & 0x1FE0) + m.floor;
        for (; bin < last; ++bin) {
            const i32 address = std::clamp((m.psd[bin] - mask) >> 5, i32{0}, i32{63});
            baps.values[bin] = a52::baptab[address];
        }
    }
    return baps;
}

BapVector allocate_bits(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                        const BitAllocParams& params) {
    check_range(exponents, start, end);
    check_codes(params);
    if (params.csnroffst == 0 && params.fsnroffst == 0) return zero_baps(exponents.size());
    return baps_from_mask(build_mask(exponents, start, end, params, LeakStart{}), params.csnroffst,
                          params.fsnroffst);
}

BapVector allocate_coupling_bits(std::span<const uint8_t> exponents, uint32_t start, uint32_t end,
                                 const BitAllocParams& params, uint8_t cplfleak, uint8_t cplsleak) {
    check_range(exponents, start, end);
    check_codes(params);
    check_leaks(cplfleak, cplsleak);
    if (params.csnroffst == 0 && params.fsnroffst == 0) return zero_baps(exponents.size());
    const LeakStart leaks{(i32{cplfleak} << 8) + 768, (i32{cplsleak} << 8) + 768};
    return baps_from_mask(build_mask(exponents, start, end, params, leaks), params.csnroffst, params.fsnroffst);
}

uint32_t mantissa_width(uint8_t bap) {
    if (bap > 15) throw std::runtime_error("invalid bap");
    return a52::mant_width[bap];
}

uint32_t count_mantissa_bits(std::span<const BapVector* const> baps) {
    uint32_t grouped[3] = {0, 0, 0};  // bap 1, 2, 4
    uint32_t bits = 0;
    for (const BapVector* vector : baps) {
        for (uint32_t bin = 0; bin < vector->size; ++bin) {
            const uint8_t bap = vector->values[bin];
            switch (bap) {
                case 1: ++grouped[0]; break;
                case 2: ++grouped[1]; break;
                case 4: ++grouped[2]; break;
                default: bits += mantissa_width(bap); break;
            }
        }
    }
    // Three bap 1 codes share 5 bits, three bap 2 codes 7 bits, two bap 4
    // codes 7 bits; an incomplete last group costs a whole group.
    return 5 * ((grouped[0] + 2) / 3) + 7 * ((grouped[1] + 2) / 3) + 7 * ((grouped[2] + 1) / 2) + bits;
}

}  // namespace oskavi
