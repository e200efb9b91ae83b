#pragma once
// The AC-3 output file every route writes: created (or truncated) when
// opened, frames appended one after the other, every failure reported with
// the same message.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace oskavi {

class Ac3OutputFile {
public:
    // Creates or truncates the file; throws "Cannot create output: <path>".
    explicit Ac3OutputFile(const std::string& path);
    // A run that stops on a failure still leaves every frame written before
    // it on disk: the gathered frames are written out here, unchecked.
    ~Ac3OutputFile();
    Ac3OutputFile(const Ac3OutputFile&) = delete;
    Ac3OutputFile& operator=(const Ac3OutputFile&) = delete;

    // Appends one frame; a failed write throws "Failed while writing AC-3
    // output". Frames are gathered and written kGatherBytes at a time (a
    // frame of a few kilobytes written alone costs a system call of its own).
    void write(std::span<const uint8_t> frame);
    // Writes out what is buffered; a failure throws the same message. The
    // file is complete on disk only after close().
    void close();

private:
    static constexpr std::size_t kGatherBytes = std::size_t{64} << 10;
    void write_gathered();

    std::ofstream out_;
    std::vector<uint8_t> gathered_;
};

}  // namespace oskavi
