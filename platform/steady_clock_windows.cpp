#include "platform/steady_clock.h"

#if defined(_WIN32)

#include <windows.h>

namespace oskavi {

uint64_t steady_clock_ns() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER now{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    // Whole seconds and the remainder separately, so the product cannot overflow.
    const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
    const uint64_t per_second = static_cast<uint64_t>(frequency.QuadPart);
    return ticks / per_second * 1000000000ULL + ticks % per_second * 1000000000ULL / per_second;
}

}  // namespace oskavi

#endif  // defined(_WIN32)
