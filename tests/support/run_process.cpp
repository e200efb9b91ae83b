#include "tests/support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace oskavi::test {
namespace {

std::vector<std::string> child_environment(const std::vector<EnvOverride>& overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        env.emplace_back(*e);
    }
    for (const EnvOverride& o : overrides) {
        const std::string prefix = o.name + "=";
        std::erase_if(env, [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
        if (o.value) {
            env.push_back(prefix + *o.value);
        }
    }
    return env;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) {
        pointers.push_back(s.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Reads both pipes until each reaches end of file, so that a child filling
// one pipe never blocks while the other is being drained.
void drain_pipes(int out_fd, int err_fd, std::string& out, std::string& err) {
    std::array<pollfd, 2> fds{{{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&out, &err};
    int open_count = 2;
    std::array<char, 65536> buffer{};
    while (open_count > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("poll failed");
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer.data(), buffer.size());
            if (n > 0) {
                sinks[i]->append(buffer.data(), static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<EnvOverride>& env) {
    if (argv.empty()) {
        throw std::invalid_argument("run_process needs a program");
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> environment = child_environment(env);
    std::vector<char*> arg_pointers = pointers_to(args);
    std::vector<char*> env_pointers = pointers_to(environment);

    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_RDONLY);
        dup2(null_fd, STDIN_FILENO);
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        execvpe(arg_pointers[0], arg_pointers.data(), env_pointers.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    ProcessResult result;
    drain_pipes(out_pipe[0], err_pipe[0], result.out, result.err);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    if (WIFEXITED(status)) {
        result.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.exit_code = 128 + WTERMSIG(status);
    }
    return result;
}

std::string oskavi_binary() { return OSKAVI_BINARY; }

ProcessResult run_oskavi(const std::vector<std::string>& args, const std::vector<EnvOverride>& env) {
    std::vector<std::string> argv{oskavi_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, env);
}

bool program_available(const std::string& name) {
    return run_process({"sh", "-c", "command -v \"$0\" >/dev/null 2>&1", name}).exit_code == 0;
}

}  // namespace oskavi::test
