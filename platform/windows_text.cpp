#include "platform/windows_text.h"

#if defined(_WIN32)

#include <windows.h>

namespace oskavi {

std::wstring wide_from_utf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int source_length = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), source_length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), source_length, wide.data(), length);
    return wide;
}

std::string utf8_from_wide(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int source_length = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), source_length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), source_length, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

}  // namespace oskavi

#endif  // defined(_WIN32)
