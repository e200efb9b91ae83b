// Option value conversions keep the 32-bit `long` behaviour of the standard
// conversions whatever the host's `long` width is.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "app/numeric_arguments.h"

namespace oskavi {
namespace {

template <typename Fn>
std::string error_of(Fn fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

TEST(NumericArguments, StoulScansLikeStrtoulWith32BitResult) {
    EXPECT_EQ(parse_stoul_argument("448"), 448u);
    EXPECT_EQ(parse_stoul_argument(" \t\n+448kbps"), 448u);
    EXPECT_EQ(parse_stoul_argument("0x10"), 0u);  // base 10: the scan stops at 'x'
    EXPECT_EQ(parse_stoul_argument("4294967295"), 4294967295u);
    EXPECT_EQ(parse_stoul_argument("-1"), 4294967295u);
    EXPECT_EQ(parse_stoul_argument("-4294967295"), 1u);
    EXPECT_EQ(parse_stoul_argument("-4294966848"), 448u);
    EXPECT_EQ(error_of([] { parse_stoul_argument("4294967296"); }), "stoul argument out of range");
    EXPECT_EQ(error_of([] { parse_stoul_argument("-4294967296"); }), "stoul argument out of range");
    EXPECT_EQ(error_of([] { parse_stoul_argument("184467440737095516160"); }), "stoul argument out of range");
    for (const char* text : {"", " ", "-", "+-1", "kbps448", "\xA0" "1"}) {
        EXPECT_EQ(error_of([&] { parse_stoul_argument(text); }), "invalid stoul argument") << text;
    }
    EXPECT_THROW(parse_stoul_argument("x"), std::invalid_argument);
    EXPECT_THROW(parse_stoul_argument("4294967296"), std::out_of_range);
}

TEST(NumericArguments, StoiAcceptsExactly32BitRange) {
    EXPECT_EQ(parse_stoi_argument("-31"), -31);
    EXPECT_EQ(parse_stoi_argument("  -2147483648"), INT32_MIN);
    EXPECT_EQ(parse_stoi_argument("+2147483647z"), INT32_MAX);
    EXPECT_EQ(error_of([] { parse_stoi_argument("2147483648"); }), "stoi argument out of range");
    EXPECT_EQ(error_of([] { parse_stoi_argument("-2147483649"); }), "stoi argument out of range");
    EXPECT_EQ(error_of([] { parse_stoi_argument("--5"); }), "invalid stoi argument");
}

TEST(NumericArguments, StodFollowsStrtod) {
    EXPECT_EQ(parse_stod_argument(" 2.5Hz"), 2.5);
    EXPECT_EQ(parse_stod_argument("-3.0103"), -3.0103);
    EXPECT_EQ(parse_stod_argument("0x1p3"), 8.0);
    EXPECT_TRUE(std::isinf(parse_stod_argument("-Infinity")));
    EXPECT_TRUE(std::isnan(parse_stod_argument("nan(123)")));
    EXPECT_EQ(error_of([] { parse_stod_argument("1e400"); }), "stod argument out of range");
    EXPECT_EQ(error_of([] { parse_stod_argument("e5"); }), "invalid stod argument");
    EXPECT_THROW(parse_stod_argument(""), std::invalid_argument);
}

}  // namespace
}  // namespace oskavi
