#pragma once
// The message of the exception an action throws, or "" when it throws none:
// lets a test compare an exact error text with EXPECT_EQ.

#include <exception>
#include <string>

namespace oskavi::test {

template <typename Action>
std::string error_of(Action&& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace oskavi::test
