// The golden set: the output bytes and console text of many runs of the built
// binary (every layout, several rates and input rates, every switch, both
// environment switches, both routes) against hashes recorded from the
// reference build (one thread), and the same hashes on other thread counts.
// Run with OSKAVI_GOLDEN_UPDATE=1 to rewrite the hashes after
// a change that is meant to change the output.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/golden_cases.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

const std::string kHashFile = std::string(OSKAVI_SOURCE_DIR) + "/tests/golden/hashes.txt";

std::map<std::string, std::string> recorded_hashes() {
    std::map<std::string, std::string> hashes;
    std::ifstream in(kHashFile);
    for (std::string line; std::getline(in, line);) {
        const auto space = line.find(' ');
        if (space != std::string::npos) hashes[line.substr(0, space)] = line.substr(space + 1);
    }
    return hashes;
}

// The recorded hashes are those of the one-thread output, so the reference
// run names its thread count rather than taking the machine's.
const EnvOverride kOneThread{"OSKAVI_THREADS", "1"};

TEST(GoldenOutput, EveryCaseHashesAsRecorded) {
    const std::vector<GoldenCase> cases = golden_cases();
    ASSERT_GT(cases.size(), 50u);
    const TempDirectory dir;
    std::ostringstream now;
    for (const GoldenCase& c : cases) now << c.name << ' ' << golden_run_hash(dir, c, {kOneThread}) << '\n';

    if (std::getenv("OSKAVI_GOLDEN_UPDATE") != nullptr) {
        std::ofstream(kHashFile) << now.str();
        GTEST_SKIP() << "hashes rewritten to " << kHashFile;
    }
    const auto recorded = recorded_hashes();
    std::istringstream lines(now.str());
    for (std::string line; std::getline(lines, line);) {
        const std::string name = line.substr(0, line.find(' '));
        const auto it = recorded.find(name);
        ASSERT_NE(it, recorded.end()) << "no recorded hash for " << name;
        EXPECT_EQ(line.substr(name.size() + 1), it->second) << "case " << name;
    }
    EXPECT_EQ(recorded.size(), cases.size());
}

// Frames are encoded on a pool of threads and written in order: every thread
// count gives the one-thread bytes and console text, on every route.
TEST(GoldenOutput, EveryThreadCountHashesAsRecorded) {
    const std::vector<GoldenCase> cases = golden_cases();
    const auto recorded = recorded_hashes();
    const TempDirectory dir;
    for (const char* threads : {"2", "3", "8", "64"}) {
        for (const GoldenCase& c : cases) {
            const auto it = recorded.find(c.name);
            ASSERT_NE(it, recorded.end()) << "no recorded hash for " << c.name;
            EXPECT_EQ(golden_run_hash(dir, c, {{"OSKAVI_THREADS", threads}}), it->second)
                << "case " << c.name << " with " << threads << " threads";
        }
    }
}

}  // namespace
}  // namespace oskavi::test
