#pragma once

#include <string>

namespace oskavi {

// Absolute path of the running executable, or an empty string when the
// system cannot tell.
std::string executable_path();

// Directory part of a path: everything up to and including the last '/' or
// '\\'; empty when the path has neither.
std::string directory_of(const std::string& path);

}  // namespace oskavi
