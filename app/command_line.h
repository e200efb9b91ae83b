#pragma once
// Command-line parsing: the three top-level modes (feature list, verify,
// encode), the 21 encode options with their checks, and the fixed texts the
// front end prints (usage, feature list, banner).

#include <ostream>
#include <string>

#include "app/options.h"

namespace oskavi {

enum class RunMode {
    Usage,     // wrong argument count: print the usage text, exit status 1
    Features,  // "--features": print the feature list, exit status 0
    Verify,    // "--verify file.ac3": run the verifier on verify_path
    Encode,    // input path, output path and options in command_line
};

struct ParsedArguments {
    RunMode mode = RunMode::Usage;
    std::string verify_path;
    CommandLine command_line;
};

// argv[0] is the program name. Throws std::runtime_error (or the standard
// conversion errors std::invalid_argument / std::out_of_range) with the exact
// message of the first offending argument; later arguments are not looked at.
ParsedArguments parse_command_line(int argc, const char* const* argv);

void print_usage(std::ostream& out);
void print_features(std::ostream& out);
void print_banner(std::ostream& out);

}  // namespace oskavi
