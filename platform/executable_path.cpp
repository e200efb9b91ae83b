#include "platform/executable_path.h"

namespace oskavi {

std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace oskavi

// POSIX side; the Windows side is in executable_path_windows.cpp.
#if !defined(_WIN32)

#include <unistd.h>

#include <array>

namespace oskavi {

std::string executable_path() {
    std::array<char, 4096> buffer{};
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    // A result that fills the whole buffer may have been cut short.
    if (length <= 0 || static_cast<size_t>(length) >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), static_cast<size_t>(length));
}

}  // namespace oskavi

#endif  // !defined(_WIN32)
