#include "platform/console.h"

// POSIX side; the Windows side is in console_windows.cpp.
#if !defined(_WIN32)

namespace oskavi {

std::vector<std::string> utf8_arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void prepare_console() {}

}  // namespace oskavi

#endif  // !defined(_WIN32)
