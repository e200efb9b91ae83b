#pragma once
// Runs a program as a child process and captures what it writes, for tests
// that exercise the built executable and external tools (ffmpeg, flac, sox).

#include <optional>
#include <string>
#include <vector>

namespace oskavi::test {

using Args = std::vector<std::string>;

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

// Starts argv[0] (looked up in PATH when it has no '/') with standard input
// from /dev/null, standard output and error on the given descriptors and the
// parent's environment with the overrides applied. Returns the child's id, or
// -1 when it cannot be started.
int start_process(const Args& argv, int out_fd, int err_fd, const std::vector<EnvOverride>& env = {});

// Waits for a started child: its exit status, or 128 + the signal that ended it.
int wait_for_exit(int pid);

// Runs argv as start_process does and captures what it writes. A program that
// cannot be started yields exit code 127.
ProcessResult run_process(const Args& argv, const std::vector<EnvOverride>& env = {});

// Runs the oskavi binary of this build with the given arguments.
ProcessResult run_oskavi(const Args& args, const std::vector<EnvOverride>& env = {});

// Path of the oskavi binary of this build.
std::string oskavi_binary();

// The lines of a program's output, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

// A command line followed by more arguments.
Args joined(Args first, const Args& more);

// A whole run as one text, "exit N\n" + standard output + "--\n" + standard
// error, so that one comparison checks status and both streams.
std::string outcome(const ProcessResult& r);

// The outcome of a refused run: status 2, `out`, and the message as an error.
std::string refusal(const std::string& message, const std::string& out = "");

}  // namespace oskavi::test
