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

// Everything the quantiser of one bap needs, so that any bap 1..15 runs the
// same straight-line code (the bap varies from bin to bin, and a branch on it
// would be mispredicted often). A symmetric quantiser of L levels (bap 1..5)
// uses offset (L - 1) / L, step 2 / L and top code L - 1; a two's-complement
// one of w bits (bap 6..15) uses half = 2^(w - 1), the code range
// -half..half - 1 and the w-bit mask. The other half of each row is inert.
struct Quantiser {
    double offset = 0.0;
    double step = 1.0;
    double inverse_step = 1.0;  // 1 / step, rounded
    double half = 1.0;
    int64_t top = 0;
    int64_t low = 0;
    int64_t high = 0;
    uint32_t mask = 0;
    bool symmetric = false;
};

constexpr std::array<Quantiser, 16> make_quantisers() {
    std::array<Quantiser, 16> q{};
    for (std::size_t bap = 1; bap < q.size(); ++bap) {
        if (bap <= 5) {
            const double levels = a52::quant_levels[bap];
            q[bap].offset = (levels - 1.0) / levels;
            q[bap].step = 2.0 / levels;
            q[bap].inverse_step = 1.0 / q[bap].step;
            q[bap].top = static_cast<int64_t>(a52::quant_levels[bap]) - 1;
            q[bap].symmetric = true;
        } else {
            const int width = a52::mant_width[bap];
            q[bap].half = kPowerOfTwo[static_cast<std::size_t>(width - 1)];
            q[bap].low = -(int64_t{1} << (width - 1));
            q[bap].high = (int64_t{1} << (width - 1)) - 1;
            q[bap].mask = (1u << width) - 1u;
        }
    }
    return q;
}
constexpr std::array<Quantiser, 16> kQuantisers = make_quantisers();

// Code of one mantissa of bap 1..15 (the bap is known to be valid). The
// values involved stay far inside the int64 range, so truncation by
// conversion plus a one-step correction gives std::floor and std::round
// (halves away from zero) exactly; y - trunc(y) is exact.
[[gnu::always_inline]] inline uint32_t quantise_valid(double value, int exponent, uint8_t bap) {
    double x = scale_by_exponent(value, exponent);
    if (std::isnan(x)) x = 0.0;
    x = std::min(std::max(x, -1.0), kBelowOne);
    const Quantiser& q = kQuantisers[bap];
    // Symmetric: code k stands for (2k - (L - 1)) / L.
    // The code is y = (x + offset) / step rounded half away from zero. With
    // |y| below 16 the product by the rounded reciprocal lies within 1e-14 of
    // the quotient, so it rounds to the same code unless it lies within 1e-9
    // of a half-integer; only then is the quotient itself taken.
    const double numerator = x + q.offset;
    double y = numerator * q.inverse_step;
    int64_t symmetric = static_cast<int64_t>(y);
    double fraction = y - static_cast<double>(symmetric);
    if (std::fabs(std::fabs(fraction) - 0.5) < 1e-9) {
        y = numerator / q.step;
        symmetric = static_cast<int64_t>(y);
        fraction = y - static_cast<double>(symmetric);
    }
    symmetric += static_cast<int64_t>(fraction >= 0.5) - static_cast<int64_t>(fraction <= -0.5);
    symmetric = std::min(std::max(symmetric, int64_t{0}), q.top);
    // Two's complement, truncating towards minus infinity.
    const double scaled = x * q.half;
    int64_t twos = static_cast<int64_t>(scaled);
    twos -= static_cast<int64_t>(static_cast<double>(twos) > scaled);
    twos = std::min(std::max(twos, q.low), q.high);
    const uint32_t pattern = static_cast<uint32_t>(twos) & q.mask;
    return q.symmetric ? static_cast<uint32_t>(symmetric) : pattern;
}

// Mantissas of one audio block: at most seven channels (five full-bandwidth,
// coupling, LFE) of at most 256 bins.
constexpr std::size_t kMaxBlockMantissas = 7 * 256;

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
    // The block's fields in stream order, one slot per mantissa: a bap 1, 2
    // or 4 group's word sits at its first member's slot and its other
    // members' slots stay empty (width 0). Members are the next mantissas of
    // the same bap in stream order, across channels; a group still open at
    // the block's end is completed with zero-level codes.
    std::array<uint32_t, kMaxBlockMantissas> values;
    std::array<uint8_t, kMaxBlockMantissas> widths;
    struct OpenGroup {
        std::size_t first = 0;
        uint32_t word = 0;
        uint32_t members = 0;
    };
    std::array<OpenGroup, 16> open{};  // by bap
    std::size_t slot = 0;
    for (const ChannelMantissas& c : channels) {
        if (c.baps.size() > kMaxBlockMantissas - slot) throw std::runtime_error("too many mantissas in one block");
        for (std::size_t bin = 0; bin < c.baps.size(); ++bin, ++slot) {
            const uint8_t bap = c.baps[bin];
            widths[slot] = 0;
            if (bap == 0) continue;
            if (bap > 15) throw std::runtime_error("invalid bap");
            const uint32_t code = quantise_valid(c.coefficients[bin], c.exponents[bin], bap);
            const GroupRule* rule = group_rule(bap);
            if (rule == nullptr) {
                values[slot] = code;
                widths[slot] = static_cast<uint8_t>(mantissa_width(bap));
                continue;
            }
            OpenGroup& group = open[bap];
            if (group.members == 0) {
                group.first = slot;
                group.word = 0;
                widths[slot] = static_cast<uint8_t>(rule->width);
            }
            group.word = group.word * rule->radix + code;
            if (++group.members == rule->members) {
                values[group.first] = group.word;
                group.members = 0;
            }
        }
    }
    for (uint8_t bap : {uint8_t{1}, uint8_t{2}, uint8_t{4}}) {
        OpenGroup& group = open[bap];
        if (group.members == 0) continue;
        const GroupRule& rule = *group_rule(bap);
        for (; group.members < rule.members; ++group.members) group.word = group.word * rule.radix + rule.zero_code;
        values[group.first] = group.word;
    }
    FieldPacker fields(writer);
    for (std::size_t i = 0; i < slot; ++i) {
        if (widths[i] != 0) fields.add(values[i], widths[i]);
    }
    fields.flush();
}

}  // namespace oskavi
