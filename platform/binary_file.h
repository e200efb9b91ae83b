#pragma once
// Binary input file with 64-bit positions. The stream state follows the
// standard stream rules: a short read leaves the file failed until clear().

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace oskavi {

class BinaryInputFile {
public:
    // Opens for binary reading; other readers may hold the file open too.
    // Fails for a path that is neither a regular file nor a pipe.
    bool open(const std::string& path);
    void close();

    // Reads up to `count` bytes and returns how many arrived.
    size_t read(void* destination, size_t count);

    bool good() const { return stream_.good(); }
    void clear() { stream_.clear(); }

    // Moves the read position; a position past the end is allowed (the next
    // read then fails). Returns false when the stream refuses the seek.
    bool seek(uint64_t position);
    uint64_t position();

    // Length of the file when it was opened.
    uint64_t size() const { return size_; }

private:
    std::ifstream stream_;
    uint64_t size_ = 0;
};

}  // namespace oskavi
