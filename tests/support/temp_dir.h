#pragma once
// A fresh directory for one test's files, removed with everything in it when
// the object goes away, plus whole-file helpers.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace oskavi::test {

class TempDirectory {
public:
    TempDirectory();  // created in the system's temporary directory as oskavi-test-<random>
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Path of a file inside the directory, as a string for command lines.
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> file_bytes(const std::string& path);
std::string file_text(const std::string& path);
void write_file_bytes(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace oskavi::test
