#include "platform/steady_clock.h"

// POSIX side; the Windows side is in steady_clock_windows.cpp.
#if !defined(_WIN32)

#include <time.h>

namespace oskavi {

uint64_t steady_clock_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000ULL + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace oskavi

#endif  // !defined(_WIN32)
