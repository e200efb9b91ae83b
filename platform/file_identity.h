#pragma once
// What a path names on disk: whether two paths are one file, and whether a
// path is something the readers can take (a regular file or a pipe) rather
// than a directory or a device that never ends.

#include <string>

namespace oskavi {

// True when both paths exist and name the same file (same device and inode),
// through symbolic links and hard links alike.
bool same_file(const std::string& a, const std::string& b);

// True when the path exists and is neither a regular file nor a pipe
// (a directory, a character or block device, a socket).
bool is_special_file(const std::string& path);

}  // namespace oskavi
