// Runs of the built binary on inputs and situations a careless or hostile
// user can produce: an output path that names the input, a reader that closes
// standard output, directories and devices, huge refused inputs, NaN samples,
// absurd fold gains and interrupts.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <thread>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"
#include "tools/test_signal.h"

namespace oskavi::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFrameBytes448 = 1792;  // one 48 kHz frame at 448 kbit/s

std::string signal_wav(const TempDirectory& dir, uint32_t channels, uint32_t rate, double seconds) {
    const std::vector<float> samples = tools::make_test_signal({rate, channels, seconds, 0.6, true, 3});
    tools::write_wav(dir.file("in.wav"), samples, rate, channels, 16);
    return dir.file("in.wav");
}

// Starts the binary with standard output on `out_fd` (closed here once the
// child holds it) and standard error into the file `err`; returns its id.
int start_oskavi(const Args& args, int out_fd, const std::string& err) {
    const int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int pid = start_process(joined({oskavi_binary()}, args), out_fd, err_fd);
    close(out_fd);
    close(err_fd);
    return pid;
}

// Largest resident set of any child this test process has waited for.
uint64_t peak_child_resident_bytes() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

// Case 1: the input survives whichever name the output gives it.
TEST(HostileInput, OutputThatIsTheInputIsRefusedAndTheInputSurvives) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, 2, 44100, 1.0);
    const std::string flac = dir.file("in.flac");
    ASSERT_EQ(run_process({"flac", "-s", "-f", wav, "-o", flac}).exit_code, 0);
    const std::vector<uint8_t> wav_bytes = file_bytes(wav), flac_bytes = file_bytes(flac);
    fs::create_symlink("in.wav", dir.file("link.ac3"));
    fs::create_hard_link(wav, dir.file("hard.ac3"));
    for (const Args& args : {Args{wav, wav},                                      // streaming route
                             Args{wav, wav, "--no-streaming"},                    // whole-file route
                             Args{wav, dir.file("link.ac3"), "--quiet"},          // through a symbolic link
                             Args{wav, dir.file("hard.ac3"), "--no-streaming"},   // through a hard link
                             Args{flac, flac}}) {
        EXPECT_EQ(outcome(run_oskavi(args)), refusal("Output file is the input file: " + args[1]));
    }
    EXPECT_EQ(run_oskavi({wav, wav, "--preflight", "--quiet"}).exit_code, 0);  // a preflight writes nothing
    EXPECT_EQ(file_bytes(wav), wav_bytes);
    EXPECT_EQ(file_bytes(flac), flac_bytes);
}

// Case 2: a reader that has gone away costs the report, never the encode.
TEST(HostileInput, ClosedStandardOutputDoesNotEndTheEncode) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, 2, 48000, 2.0);
    ASSERT_EQ(run_oskavi({wav, dir.file("quiet.ac3"), "--quiet"}).exit_code, 0);
    for (const Args& route : {Args{}, Args{"--no-streaming"}}) {
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        close(pipe_fds[0]);  // nobody will ever read: every write to stdout fails
        const int pid = start_oskavi(joined({wav, dir.file("piped.ac3")}, route), pipe_fds[1], dir.file("err"));
        EXPECT_EQ(wait_for_exit(pid), 0) << route.size();
        EXPECT_EQ(file_text(dir.file("err")), "");
        EXPECT_EQ(file_bytes(dir.file("piped.ac3")), file_bytes(dir.file("quiet.ac3"))) << route.size();
    }
}

// Case 3: directories and devices get the message of a file that cannot be
// opened, and the verifier reads a long stream in bounded memory.
TEST(HostileInput, SpecialFilesAreRefusedAndVerifyReadsFrameByFrame) {
    TempDirectory dir;
    const std::string folder = dir.file("folder.wav"), zero_wav = dir.file("zero.wav"), zero_flac = dir.file("z.flac");
    fs::create_directory(folder);
    fs::create_symlink("/dev/zero", zero_wav);
    fs::create_symlink("/dev/zero", zero_flac);
    for (const auto& [args, message] : std::vector<std::pair<Args, std::string>>{
             {{folder, dir.file("o.ac3"), "--quiet"}, "Cannot open input: " + folder},
             {{folder, dir.file("o.ac3"), "--quiet", "--no-streaming"}, "Cannot open input: " + folder},
             {{zero_wav, dir.file("o.ac3"), "--quiet"}, "Cannot open input: " + zero_wav},
             {{zero_flac, dir.file("o.ac3"), "--quiet"}, "Cannot open input: " + zero_flac},
             {{"--verify", folder}, "Cannot open AC-3 input: " + folder},
             {{"--verify", "/dev/zero"}, "Cannot open AC-3 input: /dev/zero"}}) {
        EXPECT_EQ(outcome(run_oskavi(args)), refusal(message));
    }
    EXPECT_FALSE(fs::exists(dir.file("o.ac3")));

    // About 200 MB of frames: the report counts every one, while the verifier
    // holds little more than one frame. The file is written piecewise so that
    // this process stays small too (a child starts as a copy of it).
    ASSERT_EQ(run_oskavi({signal_wav(dir, 2, 48000, 2.0), dir.file("short.ac3"), "--quiet"}).exit_code, 0);
    const std::vector<uint8_t> once = file_bytes(dir.file("short.ac3"));
    {
        std::ofstream many(dir.file("long.ac3"), std::ios::binary);
        for (int i = 0; i < 1800; ++i) many.write(reinterpret_cast<const char*>(once.data()), std::ssize(once));
    }
    const uint64_t long_bytes = fs::file_size(dir.file("long.ac3"));
    const ProcessResult r = run_oskavi({"--verify", dir.file("long.ac3")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("AC-3 verify:  " + std::to_string(long_bytes / kFrameBytes448) + " frame(s)"))
        << r.out;
    EXPECT_LT(peak_child_resident_bytes(), long_bytes / 2);
}

// Case 4: a refusal that follows from the header comes without reading the
// samples: same outcome as for a small file of the same format.
TEST(HostileInput, HugeInputRefusedFromItsHeaderIsNotRead) {
    TempDirectory dir;
    const struct {
        uint16_t channels;
        uint32_t rate, data_bytes;  // just below 4 GiB, whole sample frames
        std::string error;
    } cases[] = {{2, 32000, 0xFFFFFFF0u, "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz"},
                 {3, 48000, 0xFFFFFFFCu, "Ambiguous multichannel layout; refusing to guess channel positions"}};
    for (const auto& c : cases) {
        const Bytes fmt = fmt_body(1, c.channels, c.rate, 16);
        const std::string small =
            WaveBuilder().chunk("fmt ", fmt).chunk("data", Bytes(c.channels * 2000u, 0x11)).write(dir.file("small.wav"));
        const std::string huge =
            WaveBuilder().chunk("fmt ", fmt).chunk_with_size("data", c.data_bytes, {}).write(dir.file("huge.wav"));
        fs::resize_file(huge, fs::file_size(huge) + c.data_bytes);  // sparse: costs no disk
        const ProcessResult expected = run_oskavi({small, dir.file("o.ac3")});
        EXPECT_EQ(outcome(expected), refusal(c.error, expected.out));
        for (const Args& option : {Args{"--preflight"}, Args{"--no-streaming"}, Args{}})
            EXPECT_EQ(outcome(run_oskavi(joined({huge, dir.file("o.ac3")}, option))), outcome(expected));
        EXPECT_FALSE(fs::exists(dir.file("o.ac3")));
    }
    EXPECT_LT(peak_child_resident_bytes(), uint64_t{1} << 30);
}

// Case 5: NaN samples are read as silence, counted once on standard error;
// the report on standard output is unchanged by the replacement.
TEST(HostileInput, NanSamplesEncodeAsZerosWithOneWarning) {
    TempDirectory dir;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> with_nan = tools::make_test_signal({48000, 2, 1.0, 0.6, true, 5});
    std::vector<float> with_zero = with_nan;
    uint64_t count = 0;
    for (size_t i = 7; i < with_nan.size(); i += 997, ++count) {
        with_nan[i] = nan;
        with_zero[i] = 0.0f;
    }
    const size_t all = with_nan.size();
    for (const bool all_nan : {false, true}) {
        tools::write_wav(dir.file("nan.wav"), all_nan ? std::vector<float>(all, nan) : with_nan, 48000, 2, 32);
        tools::write_wav(dir.file("zero.wav"), all_nan ? std::vector<float>(all, 0.0f) : with_zero, 48000, 2, 32);
        const std::string warning =
            "Warning: " + std::to_string(all_nan ? all : count) + " non-finite input sample(s) read as silence\n";
        for (const Args& route : {Args{"--quiet"}, Args{"--quiet", "--no-streaming"}, Args{"--quiet", "--matrix-decode"},
                                  Args{"--quiet", "--matrix-decode", "--no-streaming"}, Args{"--preflight"}}) {
            SCOPED_TRACE(::testing::PrintToString(route) + (all_nan ? " all NaN" : ""));
            const ProcessResult zero_run = run_oskavi(joined({dir.file("zero.wav"), dir.file("zero.ac3")}, route));
            ASSERT_EQ(zero_run.exit_code, 0) << zero_run.err;
            const ProcessResult nan_run = run_oskavi(joined({dir.file("nan.wav"), dir.file("nan.ac3")}, route));
            EXPECT_EQ(outcome(nan_run), outcome(zero_run) + warning);
            if (route[0] == "--quiet") {
                EXPECT_EQ(file_bytes(dir.file("nan.ac3")), file_bytes(dir.file("zero.ac3")));
            }
        }
    }
}

// Case 6: a fold gain that is not a finite float would silence the surrounds;
// -inf is a gain of zero, muting the back pair on purpose.
TEST(HostileInput, NonFiniteSurroundMixGainIsRefused) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, 8, 48000, 0.5);
    for (const std::string value : {"nan", "inf", "+infinity", "1000", "771"})
        EXPECT_EQ(outcome(run_oskavi({wav, dir.file("o.ac3"), "--surround-mix-gain", value})),
                  refusal("--surround-mix-gain must be a finite level in dB")) << value;
    for (const std::string value : {"-inf", "770", "-3"})
        EXPECT_EQ(run_oskavi({wav, dir.file("o.ac3"), "--surround-mix-gain", value, "--quiet"}).exit_code, 0) << value;
}

// Case 7, a failed FLAC decode naming its cause, is FlacInput's.

// Case 8: an interrupt ends the encode on a frame boundary with a word; each
// signal on one route.
TEST(HostileInput, InterruptStopsOnAFrameBoundary) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, 2, 48000, 60.0);
    const std::string out = dir.file("out.ac3");
    for (const auto& [signal_number, route] : {std::pair{SIGINT, "--quiet"}, std::pair{SIGTERM, "--no-streaming"}}) {
        fs::remove(out);
        const int pid = start_oskavi({wav, out, route}, open("/dev/null", O_WRONLY | O_CLOEXEC), dir.file("err"));
        ASSERT_GT(pid, 0);
        // Interrupt once frames have reached the file (a guard, not a timing).
        for (int i = 0; i < 60000 && !(fs::exists(out) && fs::file_size(out) > 0); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        kill(pid, signal_number);
        EXPECT_EQ(wait_for_exit(pid), 2) << route;
        EXPECT_EQ(file_text(dir.file("err")), "Error: Interrupted\n");
        const uint64_t size = fs::file_size(out);
        EXPECT_GT(size, 0u);
        EXPECT_EQ(size % kFrameBytes448, 0u) << size;
        EXPECT_LT(size / kFrameBytes448, (60 * 48000 + 1535) / 1536);
        EXPECT_EQ(run_oskavi({"--verify", out}).exit_code, 0);
    }
}

}  // namespace
}  // namespace oskavi::test
