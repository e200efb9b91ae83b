#include "platform/file_identity.h"

// POSIX side; the Windows side is in file_identity_windows.cpp.
#if !defined(_WIN32)

#include <sys/stat.h>

namespace oskavi {

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool is_special_file(const std::string& path) {
    struct stat s {};
    if (stat(path.c_str(), &s) != 0) {
        return false;  // a missing file is left to the open that follows
    }
    return !S_ISREG(s.st_mode) && !S_ISFIFO(s.st_mode);
}

}  // namespace oskavi

#endif  // !defined(_WIN32)
