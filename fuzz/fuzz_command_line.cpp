// The command-line parser on arbitrary argument vectors: the input is split
// at NUL bytes into arguments after the program name.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "app/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> arguments{"oskavi"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    arguments.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    try {
        oskavi::parse_command_line(static_cast<int>(argv.size()), argv.data());
    } catch (const std::exception&) {
    }
    return 0;
}
