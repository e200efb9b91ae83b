#pragma once
// Environment variable lookup for the program's OSKAVI_* switches.

#include <optional>
#include <string>

namespace oskavi {

// The variable's value, or nullopt when it is not set.
std::optional<std::string> env_value(const char* name);

// A switch is on when the variable is set, non-empty and does not begin
// with '0' ("1", "yes" turn it on; unset, "", "0", "0abc" leave it off).
bool env_flag_enabled(const char* name);

}  // namespace oskavi
