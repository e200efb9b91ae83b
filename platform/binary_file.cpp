#include "platform/binary_file.h"

#include "platform/file_identity.h"
#include "platform/file_path.h"

namespace oskavi {

bool BinaryInputFile::open(const std::string& path) {
    // Directories and devices open on some systems but are not audio files:
    // one reads as empty, another never ends.
    if (is_special_file(path)) {
        return false;
    }
    stream_.open(file_path(path), std::ios::binary | std::ios::in);
    if (!stream_.is_open()) {
        return false;
    }
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    size_ = end < 0 ? 0 : static_cast<uint64_t>(end);
    stream_.seekg(0, std::ios::beg);
    return stream_.good();
}

void BinaryInputFile::close() {
    stream_.close();
    size_ = 0;
}

size_t BinaryInputFile::read(void* destination, size_t count) {
    stream_.read(static_cast<char*>(destination), static_cast<std::streamsize>(count));
    return static_cast<size_t>(stream_.gcount());
}

bool BinaryInputFile::seek(uint64_t position) {
    stream_.seekg(static_cast<std::streamoff>(position), std::ios::beg);
    return !stream_.fail();
}

uint64_t BinaryInputFile::position() {
    const std::streamoff at = stream_.tellg();
    return at < 0 ? 0 : static_cast<uint64_t>(at);
}

}  // namespace oskavi
