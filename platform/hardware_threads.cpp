#include "platform/hardware_threads.h"

#include <algorithm>
#include <thread>

namespace oskavi {

uint32_t hardware_threads() {
    return std::max(1u, std::thread::hardware_concurrency());
}

}  // namespace oskavi
