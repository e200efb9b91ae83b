#include "ac3/coupling.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace oskavi {

namespace {

constexpr double kLargestCoordinate = 0.96875;  // 31/32, the largest A/52 coordinate
constexpr double kCouplingScale = 0.125;        // coupling channel = (L +/- R) / 8

struct CouplingRange {
    uint32_t min_kbps;
    uint32_t max_kbps;
    uint8_t cplbegf;
    uint8_t cplendf;
};

constexpr std::array<CouplingRange, 3> kCouplingRanges{{
    {128, 160, 4, 10},
    {161, 224, 5, 11},
    {225, 256, 6, 12},
}};

// A/52: a cplcoexp of 15 leaves the mantissa unnormalised (k / 16);
// otherwise the implicit leading bit gives (k + 16) / 32. The master
// coordinate shifts by another 3 * mstrcplco. Every value is exact.
constexpr double coordinate_value(int cplcoexp, int cplcomant, int mstrcplco) {
    double value = cplcoexp == 15 ? cplcomant / 16.0 : (cplcomant + 16) / 32.0;
    for (int shift = 0; shift < cplcoexp + 3 * mstrcplco; ++shift) value *= 0.5;
    return value;
}

// Every coordinate A/52 can express, per mstrcplco, in search order
// (cplcoexp outer, cplcomant inner).
using CoordinateTable = std::array<std::array<double, 256>, 4>;

constexpr CoordinateTable make_coordinate_table() {
    CoordinateTable table{};
    for (int m = 0; m < 4; ++m) {
        for (int e = 0; e < 16; ++e) {
            for (int k = 0; k < 16; ++k) table[m][16 * e + k] = coordinate_value(e, k, m);
        }
    }
    return table;
}

constexpr CoordinateTable kCoordinateValues = make_coordinate_table();

// The candidate indices in ascending order of value. The four tables differ
// by powers of two only, so one order serves them all; all values differ.
constexpr std::array<uint8_t, 256> make_ascending_order() {
    std::array<uint8_t, 256> order{};
    for (int i = 0; i < 256; ++i) order[i] = static_cast<uint8_t>(i);
    const std::array<double, 256>& values = kCoordinateValues[0];
    for (int i = 1; i < 256; ++i) {
        const uint8_t moving = order[i];
        int j = i;
        for (; j > 0 && values[order[j - 1]] > values[moving]; --j) order[j] = order[j - 1];
        order[j] = moving;
    }
    return order;
}

constexpr std::array<uint8_t, 256> kAscending = make_ascending_order();

// First candidate (cplcoexp outer, cplcomant inner) of smallest relative
// error ((value - target) / scale)^2 towards the clamped target.
//
// Every step of that error (subtraction, division by the positive scale,
// squaring) rounds monotonically, so on either side of the target the
// errors never fall as candidates get farther away. The smallest error is
// therefore that of the nearest candidate below or at-or-above the target,
// and the candidates sharing it form a run next to the target on each side:
// only those runs are evaluated, and the lowest index among them wins, as in
// a scan of all 256 candidates in index order.
int closest_candidate(const std::array<double, 256>& values, double target) {
    const double scale = std::max(target, 1e-9);
    const auto error_of = [&](int position) {
        const double r = (values[kAscending[position]] - target) / scale;
        return r * r;
    };
    const auto above = std::partition_point(kAscending.begin(), kAscending.end(),
                                            [&](uint8_t index) { return values[index] < target; });
    const int first_above = static_cast<int>(above - kAscending.begin());
    const double infinity = std::numeric_limits<double>::infinity();
    const double below_error = first_above > 0 ? error_of(first_above - 1) : infinity;
    const double above_error = first_above < 256 ? error_of(first_above) : infinity;
    const double smallest = std::min(below_error, above_error);
    int best = 256;
    for (int p = first_above; p < 256 && error_of(p) <= smallest; ++p) best = std::min<int>(best, kAscending[p]);
    for (int p = first_above - 1; p >= 0 && error_of(p) <= smallest; --p) best = std::min<int>(best, kAscending[p]);
    return best;
}

// The plain scan, for a target that is not a number (every error compares
// false, so the first candidate stays).
int first_candidate_by_scan(const std::array<double, 256>& values, double target) {
    const double scale = std::max(target, 1e-9);
    double best_error = std::numeric_limits<double>::infinity();
    int best_index = 0;
    for (int index = 0; index < 256; ++index) {
        const double r = (values[index] - target) / scale;
        const double error = r * r;
        if (error < best_error) {
            best_error = error;
            best_index = index;
        }
    }
    return best_index;
}

CouplingCoordinate quantise_one(double target, int mstrcplco) {
    const std::array<double, 256>& values = kCoordinateValues[mstrcplco];
    const int index = std::isnan(target) ? first_candidate_by_scan(values, target) : closest_candidate(values, target);
    CouplingCoordinate best;
    best.cplcoexp = static_cast<uint8_t>(index / 16);
    best.cplcomant = static_cast<uint8_t>(index % 16);
    best.value = values[index];
    return best;
}

}  // namespace

CouplingPlan plan_coupling(bool enabled, uint32_t bitrate_kbps) {
    CouplingPlan plan;
    if (!enabled) return plan;
    for (const CouplingRange& range : kCouplingRanges) {
        if (bitrate_kbps < range.min_kbps || bitrate_kbps > range.max_kbps) continue;
        plan.in_use = 1;
        plan.cplbegf = range.cplbegf;
        plan.cplendf = range.cplendf;
        plan.cplstrtmant = 37 + 12 * uint32_t{range.cplbegf};
        plan.cplendmant = 37 + 12 * (uint32_t{range.cplendf} + 3);
        for (uint32_t first = plan.cplstrtmant; first < plan.cplendmant; first += kCouplingBandWidth) {
            plan.bands.push_back({first, first + kCouplingBandWidth});
        }
    }
    return plan;
}

ChannelCouplingCoordinates quantise_coupling_coordinates(std::span<const double> coordinates) {
    ChannelCouplingCoordinates best;
    double best_total = std::numeric_limits<double>::infinity();
    std::vector<CouplingCoordinate> bands(coordinates.size());
    for (int m = 0; m < 4; ++m) {
        double total = 0.0;
        for (size_t i = 0; i < coordinates.size(); ++i) {
            const double v = coordinates[i];
            bands[i] = quantise_one(std::clamp(v, 0.0, kLargestCoordinate), m);
            const double r = (bands[i].value - v) / std::max(v, 1e-6);
            total += r * r;
        }
        if (m == 0 || total < best_total) {
            best_total = total;
            best.mstrcplco = static_cast<uint8_t>(m);
            best.bands = bands;
        }
    }
    return best;
}

CoupledBlock couple_block(std::span<const double, kBinsPerBlock> left, std::span<const double, kBinsPerBlock> right,
                          const CouplingPlan& plan) {
    if (!plan.in_use) throw std::runtime_error("coupling requested with disabled plan");
    CoupledBlock out;
    out.phsflg.assign(plan.bands.size(), 0);
    std::array<std::vector<double>, 2> values{std::vector<double>(plan.bands.size()),
                                              std::vector<double>(plan.bands.size())};
    for (size_t i = 0; i < plan.bands.size(); ++i) {
        const CouplingBand& band = plan.bands[i];
        double cross = 0.0;
        double sum_ll = 0.0;
        double sum_rr = 0.0;
        for (uint32_t k = band.first_bin; k < band.end_bin; ++k) {
            cross += left[k] * right[k];
            sum_ll += left[k] * left[k];
            sum_rr += right[k] * right[k];
        }
        const double sign = cross < 0.0 ? -1.0 : 1.0;
        out.phsflg[i] = cross < 0.0 ? 1 : 0;
        double ecc = 0.0;
        for (uint32_t k = band.first_bin; k < band.end_bin; ++k) {
            const double c = (left[k] + sign * right[k]) * kCouplingScale;
            out.coefficients[k] = c;
            ecc += c * c;
        }
        if (ecc > 1e-30) {
            values[0][i] = std::sqrt(sum_ll / ecc) * kCouplingScale;
            values[1][i] = std::sqrt(sum_rr / ecc) * kCouplingScale;
        }
    }
    out.coordinates[0] = quantise_coupling_coordinates(values[0]);
    out.coordinates[1] = quantise_coupling_coordinates(values[1]);
    return out;
}

double coupling_model_error(std::span<const double, kBinsPerBlock> left, std::span<const double, kBinsPerBlock> right,
                            std::span<const double, kBinsPerBlock> coupled,
                            const std::array<ChannelCouplingCoordinates, 2>& coordinates,
                            std::span<const uint8_t> phsflg, const CouplingPlan& plan) {
    const size_t nbands = plan.bands.size();
    if (!plan.in_use || coordinates[0].bands.size() != nbands || coordinates[1].bands.size() != nbands ||
        phsflg.size() != nbands) {
        throw std::runtime_error("invalid coupling model-error inputs");
    }
    double residual = 0.0;
    double energy = 0.0;
    for (size_t i = 0; i < nbands; ++i) {
        const double ql = coordinates[0].bands[i].value;
        const double qr = phsflg[i] ? -coordinates[1].bands[i].value : coordinates[1].bands[i].value;
        for (uint32_t k = plan.bands[i].first_bin; k < plan.bands[i].end_bin; ++k) {
            // A decoder rebuilds each channel as c * coordinate * 8.
            const double dl = left[k] - coupled[k] * 8.0 * ql;
            const double dr = right[k] - coupled[k] * 8.0 * qr;
            residual += dl * dl + dr * dr;
            energy += left[k] * left[k] + right[k] * right[k];
        }
    }
    return energy > 1e-30 ? residual / energy : 0.0;
}

ExponentSet coupling_exponent_set(std::span<const uint8_t> exponents, uint32_t cplstrtmant, uint32_t cplendmant) {
    // The coded range never passes the A/52 mantissa limit of 253 bins.
    if (!(cplstrtmant < cplendmant && cplendmant <= exponents.size() && (cplendmant - cplstrtmant) % 3 == 0) ||
        cplendmant > kMaxCodedBins) {
        throw std::runtime_error("invalid coupling exponent range");
    }
    const uint32_t n = cplendmant - cplstrtmant;
    // e[0] is the reference that cplabsexp carries (halved, so it must stay
    // even); e[1..n] are the exponents of the coupling bins.
    std::array<int, kBinsPerBlock + 1> e{};
    for (uint32_t i = 1; i <= n; ++i) e[i] = std::min<int>(exponents[cplstrtmant + i - 1], 24);
    e[0] = e[1] & ~1;

    bool changed = true;
    while (changed) {
        changed = false;
        for (uint32_t i = 1; i <= n; ++i) {
            const int bound = std::min(e[i - 1] + 2, 24);
            if (e[i] > bound) {
                e[i] = bound;
                changed = true;
            }
        }
        for (uint32_t i = n; i >= 1; --i) {
            const int bound = std::min(e[i] + 2, 24);
            if (e[i - 1] > bound) {
                e[i - 1] = i == 1 ? (bound & ~1) : bound;
                changed = true;
            }
        }
    }

    ExponentSet set;
    set.strategy = kExpD15;
    set.bin_count = static_cast<uint16_t>(cplendmant);
    set.exponents.fill(24);
    set.absolute_exponent = static_cast<uint8_t>(e[0] / 2);
    set.group_count = static_cast<uint8_t>(n / 3);
    for (uint32_t i = 1; i <= n; ++i) set.exponents[cplstrtmant + i - 1] = static_cast<uint8_t>(e[i]);
    for (uint32_t g = 0; g < n / 3; ++g) {
        int code = 0;
        for (uint32_t j = 1; j <= 3; ++j) {
            const uint32_t i = 3 * g + j;
            const int d = e[i] - e[i - 1];
            if (d < -2 || d > 2) throw std::runtime_error("coupling exponent slew error");
            code = code * 5 + (d + 2);
        }
        set.group_codes[g] = static_cast<uint8_t>(code);
    }
    return set;
}

}  // namespace oskavi
