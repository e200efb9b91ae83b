#include "ac3/exponents.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace oskavi {

namespace {

// The quietest exponent A/52 can code.
constexpr uint8_t kMaxExponent = 24;
// The absolute (DC) exponent is sent in four bits.
constexpr uint8_t kMaxAbsoluteExponent = 15;

// Bins per exponent step for D15, D25, D45 (strategy 1..3).
constexpr std::array<uint32_t, 4> kGroupSize{0, 1, 2, 4};

uint32_t group_count_for(uint8_t strategy, uint32_t coded_bins) {
    switch (strategy) {
        case kExpD15: return (coded_bins - 1) / 3;
        case kExpD25: return (coded_bins + 2) / 6;
        default: return (coded_bins + 8) / 12;
    }
}

uint8_t exponent_of(double coefficient) {
    const double magnitude = std::fabs(coefficient);
    if (magnitude <= DBL_MIN) return kMaxExponent;  // zero and subnormals
    int power = 0;
    std::frexp(magnitude, &power);  // magnitude = m * 2^power, 0.5 <= m < 1
    return static_cast<uint8_t>(std::clamp(-power, 0, static_cast<int>(kMaxExponent)));
}

// The DC exponent plus one exponent per differential step; at most
// 3 * 84 steps (D15 over 253 bins).
using StepExponents = std::array<uint8_t, 3 * kMaxExponentGroups + 1>;

// r[0..steps]: the DC exponent, then one exponent per step of `group_size`
// bins, the smallest of the step's bins (the loudest wins, so no mantissa
// overflows). A step lying wholly at or beyond the coded bins repeats its
// predecessor.
StepExponents reduce_to_steps(std::span<const uint8_t> e, uint32_t group_size, uint32_t steps,
                              uint32_t coded_bins) {
    StepExponents r{};
    r[0] = std::min(e[0], kMaxAbsoluteExponent);
    for (uint32_t i = 0; i < steps; ++i) {
        const uint32_t first = i * group_size + 1;
        if (first >= coded_bins) {
            r[i + 1] = r[i];
            continue;
        }
        const uint32_t end = std::min(first + group_size, coded_bins);
        uint8_t smallest = kMaxExponent;
        for (uint32_t k = first; k < end; ++k) smallest = std::min({smallest, e[k], kMaxExponent});
        r[i + 1] = smallest;
    }
    return r;
}

// Differential coding allows steps of -2..+2 only. Lower exponents until both
// directions hold; values only decrease, so the loop ends.
void limit_slew(StepExponents& r, uint32_t steps) {
    const auto ceiling = [](uint8_t neighbour) {
        return static_cast<uint8_t>(std::min<int>(neighbour + 2, kMaxExponent));
    };
    bool changed = true;
    while (changed) {
        changed = false;
        for (uint32_t i = 1; i <= steps; ++i) {
            if (r[i] > ceiling(r[i - 1])) {
                r[i] = ceiling(r[i - 1]);
                changed = true;
            }
        }
        for (uint32_t i = steps; i >= 1; --i) {
            if (r[i - 1] > ceiling(r[i])) {
                r[i - 1] = ceiling(r[i]);
                changed = true;
            }
        }
    }
}

}  // namespace

RawExponents raw_exponents(std::span<const double, kBinsPerBlock> coefficients) {
    RawExponents exponents{};
    for (std::size_t k = 0; k < exponents.size(); ++k) exponents[k] = exponent_of(coefficients[k]);
    return exponents;
}

ExponentSet prepare_exponent_set(std::span<const uint8_t> exponents, uint8_t strategy, uint32_t coded_bins) {
    if (strategy == kExpReuse) throw std::runtime_error("cannot prepare a reuse exponent set");
    // A/52 codes at most 253 bins; the set's storage is sized for that.
    if (coded_bins == 0 || coded_bins > exponents.size() || coded_bins > kMaxCodedBins) {
        throw std::runtime_error("invalid exponent coefficient count");
    }
    if (strategy > kExpD45) throw std::runtime_error("reuse is not a transmitted exponent set");

    const uint32_t group_size = kGroupSize[strategy];
    const uint32_t groups = group_count_for(strategy, coded_bins);
    const uint32_t steps = 3 * groups;
    StepExponents r = reduce_to_steps(exponents, group_size, steps, coded_bins);
    limit_slew(r, steps);

    ExponentSet set;
    set.strategy = strategy;
    set.bin_count = static_cast<uint16_t>(coded_bins);
    set.exponents.fill(kMaxExponent);
    set.exponents[0] = r[0];
    for (uint32_t i = 0; i < steps; ++i) {
        const uint32_t first = i * group_size + 1;
        const uint32_t end = std::min(first + group_size, coded_bins);
        for (uint32_t k = first; k < end; ++k) set.exponents[k] = r[i + 1];
    }
    set.absolute_exponent = r[0];
    set.group_count = static_cast<uint8_t>(groups);
    for (uint32_t j = 0; j < groups; ++j) {
        // Each difference, offset by 2, must be a base-5 digit.
        std::array<int, 3> delta{};
        for (uint32_t m = 0; m < 3; ++m) {
            delta[m] = r[3 * j + m + 1] - r[3 * j + m] + 2;
            if (delta[m] < 0 || delta[m] > 4) throw std::runtime_error("internal exponent slew error");
        }
        set.group_codes[j] = static_cast<uint8_t>(25 * delta[0] + 5 * delta[1] + delta[2]);
    }
    return set;
}

}  // namespace oskavi
