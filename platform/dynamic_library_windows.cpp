#include "platform/dynamic_library.h"

#if defined(_WIN32)

#include <windows.h>

#include <utility>

#include "platform/windows_text.h"

namespace oskavi {
namespace {

// A full path is loaded with its own directory added to the search for the
// library's dependencies; a bare name goes through the default safe search
// (application directory, System32, added directories), never the current
// directory or PATH.
constexpr DWORD kSearchDllLoadDir = 0x00000100;   // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchDefaultDirs = 0x00001000;  // LOAD_LIBRARY_SEARCH_DEFAULT_DIRS

bool is_path(const std::string& path_or_name) { return path_or_name.find_first_of("/\\") != std::string::npos; }

}  // namespace

DynamicLibrary DynamicLibrary::load(const std::string& path_or_name) {
    const DWORD flags = is_path(path_or_name) ? (kSearchDllLoadDir | kSearchDefaultDirs) : kSearchDefaultDirs;
    return DynamicLibrary(LoadLibraryExW(wide_from_utf8(path_or_name).c_str(), nullptr, flags));
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    // FARPROC and object pointers have the same size on Windows; the caller
    // casts the address back to the entry point's own type.
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::release() {
    if (handle_ != nullptr) {
        FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

}  // namespace oskavi

#endif  // defined(_WIN32)
