#include "tests/support/run_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <sstream>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace oskavi::test {
namespace {

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<EnvOverride>& env) {
    std::vector<std::string> args = argv;
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    for (const EnvOverride& o : env) {
        const std::string prefix = o.name + "=";
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(prefix); });
        if (o.value) environment.push_back(prefix + *o.value);
    }
    // The child writes into files rather than pipes, so no output size can block it.
    const TempDirectory capture;
    const std::string out = capture.file("out");
    const std::string err = capture.file("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, args.at(0).c_str(), &actions, nullptr, pointers_to(args).data(),
                                    pointers_to(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    ProcessResult result;
    if (failed != 0) {
        result.exit_code = 127;
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exit_code = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    const std::vector<uint8_t> out_bytes = file_bytes(out);
    const std::vector<uint8_t> err_bytes = file_bytes(err);
    result.out.assign(out_bytes.begin(), out_bytes.end());
    result.err.assign(err_bytes.begin(), err_bytes.end());
    return result;
}

std::string oskavi_binary() { return OSKAVI_BINARY; }

ProcessResult run_oskavi(const std::vector<std::string>& args, const std::vector<EnvOverride>& env) {
    std::vector<std::string> argv{oskavi_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, env);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace oskavi::test
