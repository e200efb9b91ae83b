#include "tests/support/run_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace oskavi::test {
namespace {

std::vector<char*> pointers_to(Args& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

int start_process(const Args& argv, int out_fd, int err_fd, const std::vector<EnvOverride>& env) {
    Args args = argv;
    Args environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    for (const EnvOverride& o : env) {
        const std::string prefix = o.name + "=";
        std::erase_if(environment, [&](const std::string& entry) { return entry.starts_with(prefix); });
        if (o.value) environment.push_back(prefix + *o.value);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args.at(0).c_str(), &actions, nullptr, pointers_to(args).data(),
                                    pointers_to(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int wait_for_exit(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) continue;
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

ProcessResult run_process(const Args& argv, const std::vector<EnvOverride>& env) {
    // The child writes into files rather than pipes, so no output size can block it.
    const TempDirectory capture;
    const int out_fd = open(capture.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err_fd = open(capture.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int pid = start_process(argv, out_fd, err_fd, env);
    close(out_fd);
    close(err_fd);
    return {pid < 0 ? 127 : wait_for_exit(pid), file_text(capture.file("out")), file_text(capture.file("err"))};
}

std::string oskavi_binary() { return OSKAVI_BINARY; }

ProcessResult run_oskavi(const Args& args, const std::vector<EnvOverride>& env) {
    return run_process(joined({oskavi_binary()}, args), env);
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

Args joined(Args first, const Args& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

std::string outcome(const ProcessResult& r) {
    return "exit " + std::to_string(r.exit_code) + "\n" + r.out + "--\n" + r.err;
}

std::string refusal(const std::string& message, const std::string& out) {
    return "exit 2\n" + out + "--\nError: " + message + "\n";
}

}  // namespace oskavi::test
