#include "app/numeric_arguments.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace oskavi {
namespace {

// Sign and magnitude of the leading decimal integer of a string, the way
// strtoul/strtol scan it. The magnitude saturates at its type's maximum,
// which is far above every 32-bit limit checked by the callers.
struct ScannedInteger {
    bool has_digits = false;
    bool negative = false;
    uint64_t magnitude = 0;
};

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

ScannedInteger scan_decimal_integer(const std::string& text) {
    ScannedInteger result;
    size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        result.negative = text[i] == '-';
        ++i;
    }
    constexpr uint64_t kSaturated = UINT64_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        result.has_digits = true;
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (result.magnitude > (kSaturated - digit) / 10) {
            result.magnitude = kSaturated;
        } else {
            result.magnitude = result.magnitude * 10 + digit;
        }
    }
    return result;
}

}  // namespace

uint32_t parse_stoul_argument(const std::string& text) {
    const ScannedInteger scanned = scan_decimal_integer(text);
    if (!scanned.has_digits) {
        throw std::invalid_argument("invalid stoul argument");
    }
    if (scanned.magnitude > UINT32_MAX) {
        throw std::out_of_range("stoul argument out of range");
    }
    const auto magnitude = static_cast<uint32_t>(scanned.magnitude);
    // strtoul negates an in-range magnitude in the unsigned type.
    return scanned.negative ? static_cast<uint32_t>(0u - magnitude) : magnitude;
}

int32_t parse_stoi_argument(const std::string& text) {
    const ScannedInteger scanned = scan_decimal_integer(text);
    if (!scanned.has_digits) {
        throw std::invalid_argument("invalid stoi argument");
    }
    const uint64_t limit = scanned.negative ? uint64_t{2147483648u} : uint64_t{2147483647u};
    if (scanned.magnitude > limit) {
        throw std::out_of_range("stoi argument out of range");
    }
    const auto magnitude = static_cast<int64_t>(scanned.magnitude);
    return static_cast<int32_t>(scanned.negative ? -magnitude : magnitude);
}

double parse_stod_argument(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin) {
        throw std::invalid_argument("invalid stod argument");
    }
    if (errno == ERANGE) {
        throw std::out_of_range("stod argument out of range");
    }
    return value;
}

}  // namespace oskavi
