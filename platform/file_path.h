#pragma once
// File names travel through the program as UTF-8 strings; this turns one into
// the path type the file streams open, so that names outside ASCII reach the
// file system intact on every system (on Windows through the wide API).

#include <filesystem>
#include <string>

namespace oskavi {

std::filesystem::path file_path(const std::string& utf8_name);

}  // namespace oskavi
