#pragma once
// The golden set of runs (tests/golden/cases.txt): reading the case list,
// making each case's input and hashing what a run of the binary produces.

#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {

struct GoldenCase {
    std::string name;
    std::string input;                 // KIND:seconds:channels:rate:bits[:correlation]
    std::vector<std::string> options;  // after the input and output paths
    std::vector<EnvOverride> env;
};

std::vector<GoldenCase> golden_cases();

// Writes the case's input into `dir` (once per distinct input) and returns its path.
std::string golden_input(const TempDirectory& dir, const std::string& input);

// Runs the case with `extra_env` added and returns
// "<sha256 of the output file or '-'> <exit status> <sha256 of the console text>".
// The console text is standard output without the progress lines (they carry
// elapsed times), then standard error.
std::string golden_run_hash(const TempDirectory& dir, const GoldenCase& c, const std::vector<EnvOverride>& extra_env);

}  // namespace oskavi::test
