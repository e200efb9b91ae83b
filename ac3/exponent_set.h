#pragma once
// One channel's transmitted exponents: what an A/52 decoder reconstructs from
// the absolute exponent and the 7-bit group codes.

#include <array>
#include <cstdint>

namespace oskavi {

inline constexpr int kBinsPerBlock = 256;
inline constexpr int kMaxCodedBins = 253;     // A/52 end mantissa limit
inline constexpr int kMaxExponentGroups = 84;  // D15 over 253 bins: (253 - 1) / 3

enum ExponentStrategy : uint8_t {
    kExpReuse = 0,
    kExpD15 = 1,
    kExpD25 = 2,
    kExpD45 = 3,
};

struct ExponentSet {
    uint8_t strategy = kExpD15;
    // Decoded exponent of every coded bin [0, bin_count); 24 elsewhere unless
    // the set covers a range that starts above bin 0 (coupling channel).
    uint16_t bin_count = 0;
    std::array<uint8_t, kBinsPerBlock> exponents{};
    uint8_t absolute_exponent = 0;  // first exponent, at most 15
    uint8_t group_count = 0;
    std::array<uint8_t, kMaxExponentGroups> group_codes{};
};

}  // namespace oskavi
