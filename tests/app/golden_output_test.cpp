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
#include <string>
#include <vector>

#include "tests/support/golden_cases.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"

namespace oskavi::test {
namespace {

const std::string kHashFile = std::string(OSKAVI_SOURCE_DIR) + "/tests/golden/hashes.txt";

// Recorded hash by case name (a case without one looks up as "").
std::map<std::string, std::string> recorded_hashes() {
    std::map<std::string, std::string> hashes;
    std::ifstream in(kHashFile);
    for (std::string name, hash; in >> name && std::getline(in >> std::ws, hash);) hashes[name] = hash;
    return hashes;
}

// The recorded hashes are those of the one-thread output, so the reference
// run names its thread count rather than taking the machine's.
const EnvOverride kOneThread{"OSKAVI_THREADS", "1"};

TEST(GoldenOutput, EveryCaseHashesAsRecorded) {
    const std::vector<GoldenCase> cases = golden_cases();
    ASSERT_GT(cases.size(), 50u);
    const TempDirectory dir;
    if (std::getenv("OSKAVI_GOLDEN_UPDATE") != nullptr) {
        std::ofstream out(kHashFile);
        for (const GoldenCase& c : cases) out << c.name << ' ' << golden_run_hash(dir, c, {kOneThread}) << '\n';
        GTEST_SKIP() << "hashes rewritten to " << kHashFile;
    }
    auto hashes = recorded_hashes();
    EXPECT_EQ(hashes.size(), cases.size());
    for (const GoldenCase& c : cases) EXPECT_EQ(golden_run_hash(dir, c, {kOneThread}), hashes[c.name]) << "case " << c.name;
}

// Frames are encoded on a pool of threads and written in order: every thread
// count gives the one-thread bytes and console text, on every route.
TEST(GoldenOutput, EveryThreadCountHashesAsRecorded) {
    auto hashes = recorded_hashes();
    const TempDirectory dir;
    for (const char* threads : {"2", "3", "8", "64"}) {
        for (const GoldenCase& c : golden_cases())
            EXPECT_EQ(golden_run_hash(dir, c, {{"OSKAVI_THREADS", threads}}), hashes[c.name])
                << "case " << c.name << " with " << threads << " threads";
    }
}

}  // namespace
}  // namespace oskavi::test
