#include "platform/dynamic_library.h"

// POSIX side; the Windows side is in dynamic_library_windows.cpp.
#if !defined(_WIN32)

#include <dlfcn.h>

#include <utility>

namespace oskavi {

DynamicLibrary DynamicLibrary::load(const std::string& path_or_name) {
    // Local binding keeps the library's symbols out of the global namespace;
    // immediate binding surfaces unresolved dependencies at load time.
    return DynamicLibrary(dlopen(path_or_name.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* DynamicLibrary::symbol(const char* name) const {
    return handle_ == nullptr ? nullptr : dlsym(handle_, name);
}

void DynamicLibrary::release() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

}  // namespace oskavi

#endif  // !defined(_WIN32)
