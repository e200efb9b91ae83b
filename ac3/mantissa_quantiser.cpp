#include "ac3/mantissa_quantiser.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <stdexcept>

#include "ac3/bit_allocation.h"
#include "ac3/bit_allocation_tables.h"

namespace oskavi {
namespace {

// Largest double below 1.0: the top of every quantiser's input range.
constexpr double kBelowOne = 0x1.fffffffffffffp-1;

// 2^e for every exponent a decoder can hold (0..24); exact doubles, so
// value * 2^e is exactly ldexp(value, e).
constexpr std::array<double, 25> make_powers_of_two() {
    std::array<double, 25> powers{};
    double p = 1.0;
    for (double& entry : powers) {
        entry = p;
        p *= 2.0;
    }
    return powers;
}
constexpr std::array<double, 25> kPowerOfTwo = make_powers_of_two();

double scale_by_exponent(double value, int exponent) {
    if (exponent >= 0 && exponent < static_cast<int>(kPowerOfTwo.size())) return value * kPowerOfTwo[exponent];
    return std::ldexp(value, exponent);
}

// std::round (halves away from zero) of a value well inside the int64 range:
// the fractional part y - trunc(y) is exact.
double round_half_away(double y) {
    const double whole = static_cast<double>(static_cast<int64_t>(y));
    const double fraction = y - whole;
    if (fraction >= 0.5) return whole + 1.0;
    if (fraction <= -0.5) return whole - 1.0;
    return whole;
}

// std::floor of a value well inside the int64 range.
double floor_small(double y) {
    const double whole = static_cast<double>(static_cast<int64_t>(y));
    return whole > y ? whole - 1.0 : whole;
}

// Per bap 1..5: (L - 1) / L and 2 / L of the symmetric quantiser of L levels.
struct SymmetricQuantiser {
    double levels;
    double offset;
    double step;
};
constexpr std::array<SymmetricQuantiser, 6> make_symmetric_quantisers() {
    std::array<SymmetricQuantiser, 6> q{};
    for (std::size_t bap = 1; bap < q.size(); ++bap) {
        const double levels = a52::quant_levels[bap];
        q[bap] = SymmetricQuantiser{levels, (levels - 1.0) / levels, 2.0 / levels};
    }
    return q;
}
constexpr std::array<SymmetricQuantiser, 6> kSymmetric = make_symmetric_quantisers();

// Code of one mantissa of bap 1..15 (the bap is known to be valid).
uint32_t quantise_valid(double value, int exponent, uint8_t bap) {
    double x = scale_by_exponent(value, exponent);
    if (std::isnan(x)) x = 0.0;
    x = std::clamp(x, -1.0, kBelowOne);
    if (bap <= 5) {
        // Symmetric quantiser of L levels; code k stands for (2k - (L - 1)) / L.
        const SymmetricQuantiser& q = kSymmetric[bap];
        const double code = round_half_away((x + q.offset) / q.step);
        return static_cast<uint32_t>(std::clamp(code, 0.0, q.levels - 1.0));
    }
    // Two's-complement quantiser of w bits, truncating towards minus infinity.
    const int width = a52::mant_width[bap];
    const double half = kPowerOfTwo[width - 1];
    const double q = std::clamp(floor_small(x * half), -half, half - 1.0);
    return static_cast<uint32_t>(static_cast<int32_t>(q)) & ((1u << width) - 1u);
}

// How bap 1, 2 and 4 codes are packed: `members` codes of `radix` levels
// per word of `width` bits; a missing member is sent as the zero level.
struct GroupRule {
    uint32_t members;
    uint32_t radix;
    uint32_t width;
    uint32_t zero_code;
};

const GroupRule* group_rule(uint8_t bap) {
    static constexpr GroupRule kBap1{3, 3, 5, 1};
    static constexpr GroupRule kBap2{3, 5, 7, 2};
    static constexpr GroupRule kBap4{2, 11, 7, 5};
    switch (bap) {
        case 1: return &kBap1;
        case 2: return &kBap2;
        case 4: return &kBap4;
        default: return nullptr;
    }
}

struct Position {
    std::size_t channel = 0;
    std::size_t bin = 0;
};

uint32_t code_at(std::span<const ChannelMantissas> channels, Position p, uint8_t bap) {
    const ChannelMantissas& c = channels[p.channel];
    return quantise_valid(c.coefficients[p.bin], c.exponents[p.bin], bap);
}

// Moves p to the next mantissa with the given bap after it, across channel
// boundaries; false at the end of the block.
bool advance_to_next(std::span<const ChannelMantissas> channels, Position& p, uint8_t bap) {
    std::size_t bin = p.bin + 1;
    for (std::size_t ch = p.channel; ch < channels.size(); ++ch, bin = 0) {
        const std::span<const uint8_t> baps = channels[ch].baps;
        for (; bin < baps.size(); ++bin) {
            if (baps[bin] == bap) {
                p = Position{ch, bin};
                return true;
            }
        }
    }
    return false;
}

// The packed word of the group whose first member sits at `first`.
uint32_t group_word(std::span<const ChannelMantissas> channels, Position first, const GroupRule& rule, uint8_t bap) {
    uint32_t word = code_at(channels, first, bap);
    Position p = first;
    bool more = true;
    for (uint32_t m = 1; m < rule.members; ++m) {
        more = more && advance_to_next(channels, p, bap);
        word = word * rule.radix + (more ? code_at(channels, p, bap) : rule.zero_code);
    }
    return word;
}

// Concatenates fields (each value below 2^width, width at most 16) and hands
// them to the writer 32 bits at a time: the same bits in the same order as
// writing every field on its own.
class FieldPacker {
public:
    explicit FieldPacker(BitWriter& writer) : writer_(writer) {}

    void add(uint32_t value, uint32_t width) {
        pending_ = (pending_ << width) | value;
        pending_bits_ += width;
        if (pending_bits_ >= 32) {
            pending_bits_ -= 32;
            writer_.write_bits(static_cast<uint32_t>(pending_ >> pending_bits_), 32);
            pending_ &= (uint64_t{1} << pending_bits_) - 1;
        }
    }

    void flush() {
        writer_.write_bits(static_cast<uint32_t>(pending_), pending_bits_);
        pending_ = 0;
        pending_bits_ = 0;
    }

private:
    BitWriter& writer_;
    uint64_t pending_ = 0;
    uint32_t pending_bits_ = 0;  // below 32 between calls
};

void check_lengths(std::span<const ChannelMantissas> channels) {
    for (const ChannelMantissas& c : channels) {
        if (c.coefficients.size() != c.baps.size() || c.exponents.size() != c.baps.size()) {
            throw std::runtime_error("mantissa channel vector size mismatch");
        }
    }
}

}  // namespace

uint32_t quantise_mantissa(double value, int exponent, uint8_t bap) {
    if (bap > 15) throw std::runtime_error("invalid bap");
    if (bap == 0) return 0;
    return quantise_valid(value, exponent, bap);
}

void write_mantissas(BitWriter& writer, std::span<const ChannelMantissas> channels) {
    check_lengths(channels);
    FieldPacker fields(writer);
    // Mantissas of each grouped bap seen so far in this block; a group starts
    // at every multiple of its member count.
    uint32_t seen[16] = {};
    for (std::size_t ch = 0; ch < channels.size(); ++ch) {
        const ChannelMantissas& c = channels[ch];
        for (std::size_t bin = 0; bin < c.baps.size(); ++bin) {
            const uint8_t bap = c.baps[bin];
            if (bap == 0) continue;
            if (const GroupRule* rule = group_rule(bap)) {
                if (seen[bap]++ % rule->members == 0) {
                    fields.add(group_word(channels, Position{ch, bin}, *rule, bap), rule->width);
                }
                continue;
            }
            const uint32_t width = mantissa_width(bap);
            if (width == 0) throw std::runtime_error("unexpected zero mantissa width");
            fields.add(quantise_valid(c.coefficients[bin], c.exponents[bin], bap), width);
        }
    }
    fields.flush();
}

}  // namespace oskavi
