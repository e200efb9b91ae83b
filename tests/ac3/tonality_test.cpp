// The tonality that decides which exponent strategies are costed: the
// one-logarithm estimate must give the category of the exact flatness on
// any spectrum, and above all on spectra whose flatness sits right at 0.08
// or 0.25, where only the exact value can tell.

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "ac3/frame_planning.h"

namespace oskavi {
namespace {

using Spectrum = std::array<double, kMaxCodedBins>;

Tonality category_of(double flatness) {
    return flatness < 0.08 ? Tonality::Tonal : flatness < 0.25 ? Tonality::FairlyTonal : Tonality::Flat;
}

double total_of(const Spectrum& energy) {
    double total = 0.0;
    for (double e : energy) total += e;
    return total;
}

void expect_exact_category(const Spectrum& energy, const std::string& what) {
    const double total = total_of(energy);
    EXPECT_EQ(spectral_tonality(energy, total), category_of(spectral_flatness(energy, total))) << what;
}

// a * tonal + (1 - a) * flat, bin by bin: flat at a = 0, tonal at a = 1.
Spectrum mix(const Spectrum& tonal, const Spectrum& flat, double a) {
    Spectrum energy;
    for (int k = 0; k < kMaxCodedBins; ++k) energy[k] = a * tonal[k] + (1.0 - a) * flat[k];
    return energy;
}

TEST(SpectralTonality, EstimateGivesTheCategoryOfTheExactFlatness) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 40; ++trial) {
        // Energies over many decades, a few loud partials, and bins at zero.
        const double scale = std::pow(10.0, -20.0 + 30.0 * unit(rng));
        Spectrum flat, tonal{};
        for (double& e : flat) e = scale * unit(rng);
        for (int p = 0; p < 1 + trial % 6; ++p) tonal[static_cast<size_t>(unit(rng) * kMaxCodedBins)] = scale * 1e6;
        for (int k = 0; k < trial % 3 * 40; ++k) flat[static_cast<size_t>(unit(rng) * kMaxCodedBins)] = 0.0;
        expect_exact_category(flat, "flat " + std::to_string(trial));
        expect_exact_category(tonal, "tonal " + std::to_string(trial));
        for (double threshold : {0.08, 0.25}) {
            // Bisect the mix down to two neighbouring doubles whose spectra
            // fall on either side of the threshold.
            double flatter = 0.0;
            double more_tonal = 1.0;
            const auto flatness_at = [&](double a) {
                const Spectrum energy = mix(tonal, flat, a);
                return spectral_flatness(energy, total_of(energy));
            };
            if (!(flatness_at(flatter) >= threshold && flatness_at(more_tonal) < threshold)) continue;
            for (int step = 0; step < 200; ++step) {
                const double middle = flatter + (more_tonal - flatter) / 2;
                if (middle <= flatter || middle >= more_tonal) break;
                (flatness_at(middle) >= threshold ? flatter : more_tonal) = middle;
            }
            const std::string what = std::to_string(trial) + " at " + std::to_string(threshold);
            EXPECT_NE(category_of(flatness_at(flatter)), category_of(flatness_at(more_tonal))) << what;
            for (double a = flatter, n = 0; n < 16; a = std::nextafter(a, 0.0), ++n) expect_exact_category(mix(tonal, flat, a), what);
            for (double a = more_tonal, n = 0; n < 16; a = std::nextafter(a, 1.0), ++n) expect_exact_category(mix(tonal, flat, a), what);
        }
    }
}

}  // namespace
}  // namespace oskavi
