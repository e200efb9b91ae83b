#include "app/thread_count.h"

#include <algorithm>
#include <stdexcept>

namespace oskavi {

uint32_t encoding_threads(const std::optional<std::string>& value, uint32_t hardware_threads) {
    if (!value) return std::clamp<uint32_t>(hardware_threads, 1, kMaxEncodingThreads);
    const std::string& text = *value;
    const bool digits_only =
        !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits_only) throw std::runtime_error("OSKAVI_THREADS must be a whole number of at least 1");
    // Saturates at the cap, so any number of digits is read without overflow.
    uint32_t count = 0;
    for (const char c : text) count = std::min<uint32_t>(count * 10 + static_cast<uint32_t>(c - '0'), kMaxEncodingThreads + 1);
    if (count == 0) throw std::runtime_error("OSKAVI_THREADS must be a whole number of at least 1");
    return std::min(count, kMaxEncodingThreads);
}

}  // namespace oskavi
