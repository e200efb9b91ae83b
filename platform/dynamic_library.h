#pragma once
// Run-time loading of shared libraries (dlopen/dlsym/dlclose on POSIX,
// LoadLibraryExW/GetProcAddress/FreeLibrary on Windows). The handle is
// owned: it is closed when the object goes away.

#include <string>
#include <utility>

namespace oskavi {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { release(); }
    DynamicLibrary(DynamicLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
        if (this != &other) {
            release();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads a library by file path (any name containing '/') or by bare name
    // through the loader's own search. Returns an unloaded object on failure.
    static DynamicLibrary load(const std::string& path_or_name);

    bool loaded() const { return handle_ != nullptr; }

    // Address of an exported symbol, or null when it is missing or nothing is loaded.
    void* symbol(const char* name) const;

    // Unloads the library now; the object becomes unloaded.
    void release();

private:
    explicit DynamicLibrary(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

}  // namespace oskavi
