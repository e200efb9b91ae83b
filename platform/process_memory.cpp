#include "platform/process_memory.h"

// POSIX side; the Windows side is in process_memory_windows.cpp.
#if !defined(_WIN32)

#include <sys/resource.h>

namespace oskavi {

uint64_t peak_resident_bytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // reported in KiB on Linux
}

}  // namespace oskavi

#endif  // !defined(_WIN32)
