#pragma once
// The readers take paths: each fuzz input is written to an anonymous
// in-memory file and handed over as /proc/self/fd/N.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace oskavi::fuzz {

class FuzzInputFile {
public:
    FuzzInputFile(const uint8_t* data, size_t size) : fd_(memfd_create("oskavi-fuzz", 0)) {
        for (size_t done = 0; fd_ >= 0 && done < size;) {
            const ssize_t n = write(fd_, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
    }
    ~FuzzInputFile() {
        if (fd_ >= 0) close(fd_);
    }
    FuzzInputFile(const FuzzInputFile&) = delete;
    FuzzInputFile& operator=(const FuzzInputFile&) = delete;

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

}  // namespace oskavi::fuzz
