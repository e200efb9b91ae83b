#pragma once
// Conversions between the program's UTF-8 strings and the UTF-16 strings of
// the Windows wide-character API. Used by the Windows side of platform/ only.

#if defined(_WIN32)

#include <string>

namespace oskavi {

// Invalid sequences become U+FFFD; an empty input gives an empty output.
std::wstring wide_from_utf8(const std::string& text);
std::string utf8_from_wide(const std::wstring& text);

}  // namespace oskavi

#endif  // defined(_WIN32)
