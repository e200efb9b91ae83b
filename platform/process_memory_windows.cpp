#include "platform/process_memory.h"

#if defined(_WIN32)

#include <windows.h>
// psapi.h needs the definitions of windows.h first.
#include <psapi.h>

namespace oskavi {

uint64_t peak_resident_bytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return 0;
    }
    return static_cast<uint64_t>(counters.PeakWorkingSetSize);
}

}  // namespace oskavi

#endif  // defined(_WIN32)
