#include "platform/file_path.h"

#if defined(_WIN32)
#include "platform/windows_text.h"
#endif

namespace oskavi {

std::filesystem::path file_path(const std::string& utf8_name) {
#if defined(_WIN32)
    // A narrow string would be read in the ANSI code page; go through UTF-16.
    return std::filesystem::path(wide_from_utf8(utf8_name));
#else
    // POSIX file names are byte strings: pass them on untouched.
    return std::filesystem::path(utf8_name);
#endif
}

}  // namespace oskavi
