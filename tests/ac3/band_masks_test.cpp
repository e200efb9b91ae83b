// Band masks of several allocations at once against the allocation of each
// set on its own.

#include "ac3/band_masks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <stdexcept>
#include <vector>

#include "ac3/bit_allocation_tables.h"
#include "ac3/exponents.h"

namespace oskavi {
namespace {

// Exponent rows that take the excitation through its data-dependent turns:
// a psd falling through the low bands (the early stage runs to band 7), flat
// (it ends at once), steps of exactly 256 (the low-frequency compensation
// boost), smooth random walks and white noise.
std::vector<uint8_t> exponent_row(int kind, std::mt19937& rng) {
    std::vector<uint8_t> row(256);
    int e = static_cast<int>(rng() % 25);
    for (std::size_t k = 0; k < row.size(); ++k) {
        switch (kind) {
            case 0: e = std::min<int>(24, static_cast<int>(k) / 2 + static_cast<int>(rng() % 2)); break;
            case 1: e = 6; break;
            case 2: e = (k % 4 < 2) ? 8 : 10; break;
            case 3: e = std::clamp(e + static_cast<int>(rng() % 5) - 2, 0, 24); break;
            default: e = static_cast<int>(rng() % 25); break;
        }
        row[k] = static_cast<uint8_t>(e);
    }
    return row;
}

TEST(BandMasks, EightAtOnceEqualEachOnItsOwn) {
    std::mt19937 rng(2026);
    const uint32_t ends[] = {1, 2, 3, 7, 8, 13, 25, 28, 29, 37, 73, 121, 169, 217, 229, 253};
    for (const uint32_t end : ends) {
        for (int trial = 0; trial < 12; ++trial) {
            BitAllocParams params;
            if (trial % 3 == 1) {
                params = {static_cast<uint8_t>(rng() % 4), static_cast<uint8_t>(rng() % 4),
                          static_cast<uint8_t>(rng() % 4), static_cast<uint8_t>(rng() % 4),
                          static_cast<uint8_t>(rng() % 8), static_cast<uint8_t>(rng() % 8), 30, 0};
            }
            const std::size_t count = 1 + rng() % kMaskLanes;
            std::vector<BandPsd> psd(count);
            std::vector<std::array<int32_t, 50>> expected(count);
            for (std::size_t i = 0; i < count; ++i) {
                const uint8_t strategy = static_cast<uint8_t>(kExpD15 + rng() % 3);
                const std::vector<uint8_t> raw = exponent_row(static_cast<int>(rng() % 5), rng);
                std::array<uint8_t, kBinsPerBlock> shaped;
                shape_exponents(std::span(raw).first(end), strategy, end, shaped);
                const auto coded = std::span<const uint8_t>(shaped.data(), end);
                const uint32_t group_size = strategy == kExpD15 ? 1 : strategy == kExpD25 ? 2 : 4;
                stepped_band_psd(coded, group_size, end, params, psd[i]);
                expected[i] = compute_allocation_mask(coded, 0, end, params).mask;
            }
            const int bands = a52::masktab[end - 1] + 1;
            for (const MaskKernel kernel : {MaskKernel::Fastest, MaskKernel::Plain}) {
                std::vector<BandMask> masks(count);
                band_masks_from_psd(psd, end, params, masks, kernel);
                for (std::size_t i = 0; i < count; ++i) {
                    ASSERT_TRUE(std::equal(masks[i].begin(), masks[i].begin() + bands, expected[i].begin()))
                        << "end " << end << " trial " << trial << " row " << i;
                }
            }
        }
    }
}

TEST(BandMasks, RefusesBadArguments) {
    std::vector<BandPsd> psd(kMaskLanes + 1);
    std::vector<BandMask> masks(kMaskLanes + 1);
    const auto mask = [&](std::size_t rows, std::size_t mask_rows, uint32_t end, BitAllocParams params) {
        band_masks_from_psd(std::span(psd).first(rows), end, params, std::span(masks).first(mask_rows));
    };
    EXPECT_THROW(mask(kMaskLanes + 1, kMaskLanes + 1, 253, {}), std::runtime_error);
    EXPECT_THROW(mask(2, 3, 253, {}), std::runtime_error);
    EXPECT_THROW(mask(2, 2, 0, {}), std::runtime_error);
    EXPECT_THROW(mask(2, 2, 254, {}), std::runtime_error);
    EXPECT_THROW(mask(2, 2, 253, BitAllocParams{.fgaincod = 8}), std::runtime_error);
    EXPECT_NO_THROW(mask(kMaskLanes, kMaskLanes, 253, {}));
}

}  // namespace
}  // namespace oskavi
