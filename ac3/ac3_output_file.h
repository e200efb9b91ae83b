#pragma once
// The AC-3 output file every route writes: created (or truncated) when
// opened, frames appended one after the other, every failure reported with
// the same message.

#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace oskavi {

class Ac3OutputFile {
public:
    // Creates or truncates the file; throws "Cannot create output: <path>".
    explicit Ac3OutputFile(const std::string& path);

    // Appends one frame; a failed write throws "Failed while writing AC-3 output".
    void write(std::span<const uint8_t> frame);
    // Writes out what is buffered; a failure throws the same message. The
    // file is complete on disk only after close().
    void close();

private:
    std::ofstream out_;
};

}  // namespace oskavi
