// Runs of the built binary on inputs and situations a careless or hostile
// user can produce: an output path that names the input, a reader that closes
// standard output, directories and devices, huge refused inputs, NaN samples,
// absurd fold gains and interrupts.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wave_builder.h"
#include "tools/test_signal.h"

extern char** environ;

namespace oskavi::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFrameBytes448 = 1792;  // one 48 kHz frame at 448 kbit/s

std::string signal_wav(const TempDirectory& dir, const std::string& name, uint32_t channels, uint32_t rate,
                       double seconds) {
    const std::string path = dir.file(name);
    tools::write_wav(path, tools::make_test_signal({rate, channels, seconds, 0.6, true, 3}), rate, channels, 16);
    return path;
}

// A stereo 48 kHz file of 32-bit floats.
std::string float_wav(const TempDirectory& dir, const std::string& name, const std::vector<float>& samples) {
    return WaveBuilder()
        .chunk("fmt ", fmt_body(3, 2, 48000, 32))
        .chunk("data", float32_bytes(samples))
        .write(dir.file(name));
}

// Starts the binary with its standard output and error going to the given
// descriptors; returns the child's id.
pid_t spawn_oskavi(const std::vector<std::string>& args, int out_fd, int err_fd) {
    std::vector<std::string> argv{oskavi_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> pointers;
    for (std::string& a : argv) pointers.push_back(a.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

// Exit status of a child; 128 + signal number when a signal ended it.
int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

std::string text_of(const std::string& path) {
    const std::vector<uint8_t> bytes = file_bytes(path);
    return {bytes.begin(), bytes.end()};
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
    const std::string wav = signal_wav(dir, "in.wav", 2, 44100, 1.0);
    const std::vector<uint8_t> wav_bytes = file_bytes(wav);
    const ProcessResult flac = run_process({"flac", "-s", "-f", wav, "-o", dir.file("in.flac")});
    ASSERT_EQ(flac.exit_code, 0) << flac.err;
    const std::vector<uint8_t> flac_bytes = file_bytes(dir.file("in.flac"));
    fs::create_symlink("in.wav", dir.file("link.ac3"));
    fs::create_hard_link(wav, dir.file("hard.ac3"));

    struct Case {
        std::string input, output;
        std::vector<std::string> options;
    };
    const std::vector<Case> cases = {
        {wav, wav, {}},                                  // streaming route
        {wav, wav, {"--no-streaming"}},                  // whole-file route
        {wav, dir.file("link.ac3"), {"--quiet"}},        // through a symbolic link
        {wav, dir.file("hard.ac3"), {"--no-streaming"}}, // through a hard link
        {dir.file("in.flac"), dir.file("in.flac"), {}},  // FLAC input
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{c.input, c.output};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const ProcessResult r = run_oskavi(args);
        EXPECT_EQ(r.exit_code, 2) << c.output;
        EXPECT_EQ(r.err, "Error: Output file is the input file: " + c.output + "\n");
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(file_bytes(wav), wav_bytes);
    EXPECT_EQ(file_bytes(dir.file("in.flac")), flac_bytes);

    // A preflight writes nothing, and a distinct output is encoded as usual.
    EXPECT_EQ(run_oskavi({wav, wav, "--preflight", "--quiet"}).exit_code, 0);
    EXPECT_EQ(run_oskavi({wav, dir.file("out.ac3"), "--quiet"}).exit_code, 0);
    EXPECT_EQ(file_bytes(wav), wav_bytes);
}

// Case 2: a reader that has gone away costs the report, never the encode.
TEST(HostileInput, ClosedStandardOutputDoesNotEndTheEncode) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, "in.wav", 2, 48000, 2.0);
    ASSERT_EQ(run_oskavi({wav, dir.file("quiet.ac3"), "--quiet"}).exit_code, 0);
    for (const std::string route : {"--bitrate=default", "--no-streaming"}) {
        std::vector<std::string> args{wav, dir.file("piped.ac3")};
        if (route.starts_with("--no-")) args.push_back(route);
        int pipe_fds[2];
        ASSERT_EQ(pipe(pipe_fds), 0);
        close(pipe_fds[0]);  // nobody will ever read: every write to stdout fails
        const int err_fd = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const pid_t pid = spawn_oskavi(args, pipe_fds[1], err_fd);
        close(pipe_fds[1]);
        close(err_fd);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(wait_for(pid), 0) << route;
        EXPECT_EQ(text_of(dir.file("err")), "");
        EXPECT_EQ(file_bytes(dir.file("piped.ac3")), file_bytes(dir.file("quiet.ac3"))) << route;
    }
}

// Case 3: directories and devices get the message of a file that cannot be
// opened, and the verifier reads a long stream in bounded memory.
TEST(HostileInput, SpecialFilesAreRefusedAndVerifyReadsFrameByFrame) {
    TempDirectory dir;
    fs::create_directory(dir.file("folder.wav"));
    fs::create_symlink("/dev/zero", dir.file("zero.flac"));
    fs::create_symlink("/dev/zero", dir.file("zero.wav"));
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{dir.file("folder.wav"), dir.file("o.ac3"), "--quiet"}, "Cannot open input: " + dir.file("folder.wav")},
        {{dir.file("folder.wav"), dir.file("o.ac3"), "--no-streaming"}, "Cannot open input: " + dir.file("folder.wav")},
        {{dir.file("zero.wav"), dir.file("o.ac3")}, "Cannot open input: " + dir.file("zero.wav")},
        {{dir.file("zero.flac"), dir.file("o.ac3")}, "Cannot open input: " + dir.file("zero.flac")},
        {{"--verify", dir.file("folder.wav")}, "Cannot open AC-3 input: " + dir.file("folder.wav")},
        {{"--verify", "/dev/zero"}, "Cannot open AC-3 input: /dev/zero"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = run_oskavi(c.args);
        EXPECT_EQ(r.exit_code, 2) << c.error;
        EXPECT_EQ(r.err, "Error: " + c.error + "\n");
    }
    EXPECT_FALSE(fs::exists(dir.file("o.ac3")));

    // About 100 MB of frames: the report counts every one, while the verifier
    // holds little more than one frame. The file is written piecewise so that
    // this process stays small too (a child starts as a copy of it).
    ASSERT_EQ(run_oskavi({signal_wav(dir, "in.wav", 2, 48000, 2.0), dir.file("short.ac3"), "--quiet"}).exit_code, 0);
    const std::vector<uint8_t> once = file_bytes(dir.file("short.ac3"));
    {
        std::ofstream many(dir.file("long.ac3"), std::ios::binary);
        for (int i = 0; i < 1800; ++i) many.write(reinterpret_cast<const char*>(once.data()), std::streamsize(once.size()));
    }
    const uint64_t long_bytes = fs::file_size(dir.file("long.ac3"));
    const ProcessResult r = run_oskavi({"--verify", dir.file("long.ac3")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.out.starts_with("AC-3 verify:  " + std::to_string(long_bytes / kFrameBytes448) + " frame(s)"))
        << r.out;
    EXPECT_LT(peak_child_resident_bytes(), long_bytes / 2);
}

// Case 4: a refusal that follows from the header comes without reading the
// samples: same report and message as for a small file of the same format.
TEST(HostileInput, HugeInputRefusedFromItsHeaderIsNotRead) {
    TempDirectory dir;
    struct Case {
        uint16_t channels;
        uint32_t rate;
        uint32_t data_bytes;  // just below 4 GiB, whole sample frames
        std::string error;
    };
    const std::vector<Case> cases = {
        {2, 32000, 0xFFFFFFF0u, "Supported input rates: 44.1/48/88.2/96/176.4/192 kHz"},
        {3, 48000, 0xFFFFFFFCu, "Ambiguous multichannel layout; refusing to guess channel positions"},
    };
    for (const Case& c : cases) {
        const std::string small = WaveBuilder()
                                      .chunk("fmt ", fmt_body(1, c.channels, c.rate, 16))
                                      .chunk("data", Bytes(size_t{c.channels} * 2 * 1000, 0x11))
                                      .write(dir.file("small.wav"));
        const std::string huge = WaveBuilder()
                                     .chunk("fmt ", fmt_body(1, c.channels, c.rate, 16))
                                     .chunk_with_size("data", c.data_bytes, {})
                                     .write(dir.file("huge.wav"));
        fs::resize_file(huge, fs::file_size(huge) + c.data_bytes);  // sparse: costs no disk
        const ProcessResult expected = run_oskavi({small, dir.file("o.ac3")});
        for (const std::string option : {"--preflight", "--no-streaming", ""}) {
            std::vector<std::string> args{huge, dir.file("o.ac3")};
            if (!option.empty()) args.push_back(option);
            const ProcessResult r = run_oskavi(args);
            EXPECT_EQ(r.exit_code, 2) << option;
            EXPECT_EQ(r.err, "Error: " + c.error + "\n");
            EXPECT_EQ(r.out, expected.out);
        }
        EXPECT_FALSE(fs::exists(dir.file("o.ac3")));
    }
    EXPECT_LT(peak_child_resident_bytes(), uint64_t{1} << 30);
}

// Case 5: NaN samples are read as silence, counted once on standard error.
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
    const std::vector<std::vector<std::string>> routes = {
        {}, {"--no-streaming"}, {"--matrix-decode"}, {"--matrix-decode", "--no-streaming"}};
    for (const bool all_nan : {false, true}) {
        const std::string nan_wav = float_wav(dir, "nan.wav", all_nan ? std::vector<float>(all, nan) : with_nan);
        const std::string zero_wav = float_wav(dir, "zero.wav", all_nan ? std::vector<float>(all, 0.0f) : with_zero);
        const std::string warning =
            "Warning: " + std::to_string(all_nan ? all : count) + " non-finite input sample(s) read as silence\n";
        for (const std::vector<std::string>& route : routes) {
            std::vector<std::string> nan_args{nan_wav, dir.file("nan.ac3"), "--quiet"};
            std::vector<std::string> zero_args{zero_wav, dir.file("zero.ac3"), "--quiet"};
            nan_args.insert(nan_args.end(), route.begin(), route.end());
            zero_args.insert(zero_args.end(), route.begin(), route.end());
            const ProcessResult nan_run = run_oskavi(nan_args);
            const ProcessResult zero_run = run_oskavi(zero_args);
            ASSERT_EQ(zero_run.exit_code, 0) << zero_run.err;
            EXPECT_EQ(nan_run.exit_code, 0);
            EXPECT_EQ(nan_run.err, warning);
            EXPECT_EQ(nan_run.out + zero_run.err, "");
            EXPECT_EQ(file_bytes(dir.file("nan.ac3")), file_bytes(dir.file("zero.ac3")))
                << all_nan << ::testing::PrintToString(route);
        }
        // The report on standard output is unchanged by the replacement.
        const ProcessResult nan_report = run_oskavi({nan_wav, dir.file("nan.ac3"), "--preflight"});
        EXPECT_EQ(nan_report.out, run_oskavi({zero_wav, dir.file("zero.ac3"), "--preflight"}).out);
        EXPECT_EQ(nan_report.err, warning);
    }
}

// Case 6: a fold gain that is not a finite float would silence the surrounds.
TEST(HostileInput, NonFiniteSurroundMixGainIsRefused) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, "in.wav", 8, 48000, 0.5);
    for (const std::string value : {"nan", "inf", "+infinity", "1000", "771"}) {
        const ProcessResult r = run_oskavi({wav, dir.file("o.ac3"), "--surround-mix-gain", value});
        EXPECT_EQ(r.exit_code, 2) << value;
        EXPECT_EQ(r.err, "Error: --surround-mix-gain must be a finite level in dB\n") << value;
        EXPECT_EQ(r.out, "") << value;
    }
    // -inf is a gain of zero: the back pair is muted on purpose.
    for (const std::string value : {"-inf", "770", "-3"}) {
        const ProcessResult r = run_oskavi({wav, dir.file("o.ac3"), "--surround-mix-gain", value, "--quiet"});
        EXPECT_EQ(r.exit_code, 0) << value << r.err;
    }
}

// Case 7, a failed FLAC decode naming its cause, is FlacInput's.

// Case 8: an interrupt ends the encode on a frame boundary with a word.
TEST(HostileInput, InterruptStopsOnAFrameBoundary) {
    TempDirectory dir;
    const std::string wav = signal_wav(dir, "in.wav", 2, 48000, 60.0);
    const uint64_t full_frames = (60 * 48000 + 1535) / 1536;
    for (const int signal_number : {SIGINT, SIGTERM}) {
        for (const std::string route : {"--quiet", "--no-streaming"}) {
            const std::string out = dir.file("out.ac3");
            fs::remove(out);
            const int out_fd = open(dir.file("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err_fd = open(dir.file("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const pid_t pid = spawn_oskavi({wav, out, route}, out_fd, err_fd);
            close(out_fd);
            close(err_fd);
            ASSERT_GT(pid, 0);
            // Interrupt once frames have reached the file (a guard, not a timing).
            for (int i = 0; i < 60000 && !(fs::exists(out) && fs::file_size(out) > 0); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            kill(pid, signal_number);
            EXPECT_EQ(wait_for(pid), 2) << route;
            EXPECT_EQ(text_of(dir.file("stderr")), "Error: Interrupted\n");
            const uint64_t size = fs::file_size(out);
            EXPECT_GT(size, 0u);
            EXPECT_EQ(size % kFrameBytes448, 0u) << size;
            EXPECT_LT(size / kFrameBytes448, full_frames);
            const ProcessResult verify = run_oskavi({"--verify", out});
            EXPECT_EQ(verify.exit_code, 0) << verify.err;
        }
    }
}

}  // namespace
}  // namespace oskavi::test
