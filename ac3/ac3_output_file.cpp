#include "ac3/ac3_output_file.h"

#include <stdexcept>

#include "platform/file_path.h"

namespace oskavi {
namespace {

void check(const std::ofstream& out) {
    if (!out) throw std::runtime_error("Failed while writing AC-3 output");
}

}  // namespace

Ac3OutputFile::Ac3OutputFile(const std::string& path) : out_(file_path(path), std::ios::binary | std::ios::trunc) {
    if (!out_) throw std::runtime_error("Cannot create output: " + path);
    gathered_.reserve(kGatherBytes);
}

Ac3OutputFile::~Ac3OutputFile() {
    if (out_.is_open() && !gathered_.empty())
        out_.write(reinterpret_cast<const char*>(gathered_.data()), static_cast<std::streamsize>(gathered_.size()));
}

void Ac3OutputFile::write(std::span<const uint8_t> frame) {
    if (gathered_.size() + frame.size() > kGatherBytes) write_gathered();
    gathered_.insert(gathered_.end(), frame.begin(), frame.end());
}

void Ac3OutputFile::write_gathered() {
    out_.write(reinterpret_cast<const char*>(gathered_.data()), static_cast<std::streamsize>(gathered_.size()));
    gathered_.clear();
    check(out_);
}

void Ac3OutputFile::close() {
    write_gathered();
    out_.flush();
    check(out_);
    out_.close();
    check(out_);
}

}  // namespace oskavi
