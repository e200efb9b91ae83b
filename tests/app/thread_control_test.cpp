// The OSKAVI_THREADS switch through the built binary: values it refuses
// before anything is printed or created, a failure in the middle of a stream
// leaving the same partial file on one thread and on four, and the streaming
// routes' peak memory staying bounded at several thread counts.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "app/thread_count.h"
#include "tests/support/error_of.h"
#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

const std::string kRefusal = "OSKAVI_THREADS must be a whole number of at least 1";

TEST(ThreadControl, ReadsWholeNumbersAndCapsThem) {
    EXPECT_EQ(encoding_threads(std::nullopt, 6), 6u);
    EXPECT_EQ(encoding_threads(std::nullopt, 0), 1u);  // hardware count unknown
    EXPECT_EQ(encoding_threads(std::nullopt, 1000), kMaxEncodingThreads);
    EXPECT_EQ(encoding_threads("1", 6), 1u);
    EXPECT_EQ(encoding_threads("007", 6), 7u);
    EXPECT_EQ(encoding_threads("64", 6), 64u);
    EXPECT_EQ(encoding_threads("65", 6), kMaxEncodingThreads);
    EXPECT_EQ(encoding_threads("99999999999999999999999999", 6), kMaxEncodingThreads);
    for (const char* bad : {"", "0", "000", "-1", "+2", "1.5", "abc", "2x", " 2", "2 ", "0x10"})
        EXPECT_EQ(error_of([&] { encoding_threads(std::string(bad), 6); }), kRefusal) << '"' << bad << '"';
}

// Which values are refused is encoding_threads' to show; the binary reads
// the variable before it prints or creates anything, on both routes.
TEST(ThreadControl, RefusedValuesStopTheRunBeforeAnyOutput) {
    const TempDirectory dir;
    const std::string input = dir.file("in.wav");
    tools::write_wav(input, tools::make_test_signal({48000, 2, 0.2, 0.6, true, 1}), 48000, 2, 16);
    const std::pair<const char*, Args> cases[] = {{"", {}}, {"0", {"--no-streaming"}}, {"2x", {}}};
    for (const auto& [bad, route] : cases) {
        const ProcessResult r = run_oskavi(joined({input, dir.file("out.ac3")}, route), {{"OSKAVI_THREADS", bad}});
        EXPECT_EQ(outcome(r), refusal(kRefusal)) << '"' << bad << '"';
        EXPECT_FALSE(std::filesystem::exists(dir.file("out.ac3"))) << '"' << bad << '"';
    }
}

// 5.1 music at 40 kbit/s: some frame cannot be fitted at any SNR offset, and
// the run stops there with the frames before it written.
TEST(ThreadControl, MidStreamFailureLeavesTheOneThreadPartialFile) {
    const TempDirectory dir;
    const std::string input = dir.file("in.wav");
    tools::write_wav(input, tools::make_test_signal({48000, 6, 3.0, 0.6, true, 1}), 48000, 6, 24);
    for (const char* route : {"--quiet", "--no-streaming"}) {
        std::vector<std::vector<uint8_t>> partial;
        for (const char* threads : {"1", "4"}) {
            const std::string output = dir.file(std::string("out") + threads + ".ac3");
            const ProcessResult r = run_oskavi({input, output, "--bitrate", "40", route}, {{"OSKAVI_THREADS", threads}});
            EXPECT_EQ(r.exit_code, 2) << threads << " threads";
            EXPECT_EQ(r.err, "Error: unable to fit AC-3 frame even at zero SNR allocation\n") << threads << " threads";
            partial.push_back(file_bytes(output));
        }
        EXPECT_FALSE(partial[0].empty()) << "the failure comes after the first frame";
        EXPECT_TRUE(partial[1] == partial[0]) << "partial files differ";
    }
}

// Peak resident size in KiB of one oskavi run, as GNU time measures it (the
// figure the kernel keeps for a process started by a small parent: a child
// started straight from this test process would inherit this process's size
// at exec).
uint64_t oskavi_peak_rss_kib(const TempDirectory& dir, const Args& args, const std::string& threads) {
    const std::string report = dir.file("rss.txt");
    const ProcessResult r = run_process(joined({"/usr/bin/time", "-f", "%M", "-o", report, oskavi_binary()}, args),
                                        {{"OSKAVI_THREADS", threads}});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return std::stoull(file_text(report));
}

// The streaming routes hold a bounded number of frame windows (a few per
// worker) and a sample workspace that does not grow with the input (the 7.1
// input held as samples would take 59 MiB), so the peak resident size stays small
// whatever the input length and the thread count. The workspace figure
// itself is in the golden set's reports.
TEST(ThreadControl, StreamingPeakMemoryStaysBounded) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory swamps the figure";
#endif
    const TempDirectory dir;
    const std::string surround = dir.file("71.wav");
    tools::write_wav(surround, tools::make_test_signal({96000, 8, 20.0, 0.6, true, 1}), 96000, 8, 16);
    const std::string stereo = dir.file("20.wav");
    tools::write_wav(stereo, tools::make_test_signal({44100, 2, 20.0, 0.6, true, 2}), 44100, 2, 16);
    constexpr uint64_t kLimitKib = 32 * 1024;
    for (const std::string threads : {"1", "2", "8", "1000"}) {
        const uint64_t preprocess = oskavi_peak_rss_kib(dir, {surround, dir.file("71.ac3"), "--quiet"}, threads);
        const uint64_t matrix =
            oskavi_peak_rss_kib(dir, {stereo, dir.file("20.ac3"), "--quiet", "--matrix-decode"}, threads);
        EXPECT_GT(std::min(preprocess, matrix), 0u);
        EXPECT_LE(preprocess, kLimitKib) << "7.1 input, " << threads << " threads";
        EXPECT_LE(matrix, kLimitKib) << "matrix decode, " << threads << " threads";
    }
}

}  // namespace
}  // namespace oskavi::test
