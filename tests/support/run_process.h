#pragma once
// Runs a program as a child process and captures what it writes, for tests
// that exercise the built executable and external tools (ffmpeg, flac, sox).

#include <optional>
#include <string>
#include <vector>

namespace oskavi::test {

struct ProcessResult {
    int exit_code = -1;  // exit status; 128 + signal number when killed by a signal
    std::string out;     // everything written to standard output
    std::string err;     // everything written to standard error
};

// One change to the child's environment: set to value, or unset when value is nullopt.
struct EnvOverride {
    std::string name;
    std::optional<std::string> value;
};

// Runs argv[0] (looked up in PATH when it has no '/') with standard input from
// /dev/null and the parent's environment with the overrides applied. A program
// that cannot be started yields exit code 127.
ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<EnvOverride>& env = {});

// Runs the oskavi binary of this build with the given arguments.
ProcessResult run_oskavi(const std::vector<std::string>& args, const std::vector<EnvOverride>& env = {});

// Path of the oskavi binary of this build.
std::string oskavi_binary();

// The lines of a program's output, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace oskavi::test
