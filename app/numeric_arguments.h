#pragma once
// Conversions of option values with the behaviour of the standard library's
// std::stoul / std::stoi / std::stod on the 32-bit Windows platform the
// program's options were defined for, where `unsigned long` and `long` are
// 32 bits wide. The results and error texts must not depend on the host's
// `long` width, so the integral conversions are done here by hand.
//
// Common rules: leading white space is skipped, then an optional sign; the
// longest valid prefix is converted and anything after it is ignored.

#include <cstdint>
#include <string>

namespace oskavi {

// strtoul semantics, base 10, 32-bit result: a magnitude above 4294967295
// throws std::out_of_range("stoul argument out of range"); a negative value
// wraps modulo 2^32 ("-1" gives 4294967295). No digits throws
// std::invalid_argument("invalid stoul argument").
uint32_t parse_stoul_argument(const std::string& text);

// strtol semantics, base 10, 32-bit: outside -2147483648..2147483647 throws
// std::out_of_range("stoi argument out of range"); no digits throws
// std::invalid_argument("invalid stoi argument").
int32_t parse_stoi_argument(const std::string& text);

// strtod semantics (decimal and hexadecimal forms, "inf", "infinity", "nan",
// "nan(...)"): no conversion throws std::invalid_argument("invalid stod
// argument"); overflow or underflow reported by the conversion throws
// std::out_of_range("stod argument out of range").
double parse_stod_argument(const std::string& text);

}  // namespace oskavi
