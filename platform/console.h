#pragma once
// The process's view of its own command line and console.

#include <string>
#include <vector>

namespace oskavi {

// The command-line arguments as UTF-8 strings, program name first. On POSIX
// systems argv is taken as it is; on Windows the wide command line is read
// and converted, so that file names outside the ANSI code page survive.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Makes the standard streams carry the program's bytes unchanged: UTF-8 text
// on the console and "\n" line ends (no text-mode translation). Nothing to do
// on POSIX systems.
void prepare_console();

}  // namespace oskavi
