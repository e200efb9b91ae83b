#include "platform/executable_path.h"

#if defined(_WIN32)

#include <windows.h>

#include <array>

#include "platform/windows_text.h"

namespace oskavi {

std::string executable_path() {
    std::array<wchar_t, MAX_PATH> buffer{};
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    // 0 is failure; a result that fills the buffer was cut short.
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return utf8_from_wide(std::wstring(buffer.data(), length));
}

}  // namespace oskavi

#endif  // defined(_WIN32)
