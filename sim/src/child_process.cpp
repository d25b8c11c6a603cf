#include "child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "posix_io.hpp"

namespace stm32sim {
namespace {

// Only async-signal-safe calls from here on: the parent has other threads.
[[noreturn]] void exec_child(char* const* argv, std::span<const int> fds, pid_t parent,
                             int error_pipe) {
    // Dies with the thread that forked it, even when the parent is killed.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);  // the parent was already gone before the line above
    }
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit no_core{0, 0};  // a crashing emulator leaves no core file behind
    ::setrlimit(RLIMIT_CORE, &no_core);
    // Lift every source above the targets first, so that moving one never
    // overwrites another.
    constexpr int first_spare = 64;
    int moved[16];
    const std::size_t count = fds.size() < 16 ? fds.size() : 16;
    for (std::size_t i = 0; i < count; ++i) {
        moved[i] = ::fcntl(fds[i], F_DUPFD_CLOEXEC, first_spare);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (moved[i] < 0 || ::dup2(moved[i], static_cast<int>(i)) < 0) {
            const int error = errno;
            [[maybe_unused]] auto n = ::write(error_pipe, &error, sizeof error);
            ::_exit(127);
        }
    }
    // Whatever else the parent left open without O_CLOEXEC stays here.
    ::close_range(static_cast<unsigned>(count), ~0u, CLOSE_RANGE_CLOEXEC);
    ::execv(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] auto n = ::write(error_pipe, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, std::span<const int> fds) {
    if (argv.empty() || fds.size() > 16) {
        throw std::invalid_argument("ChildProcess: no program, or too many descriptors");
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        throw_errno("pipe");
    }
    UniqueFd error_read(pipe_fds[0]);
    UniqueFd error_write(pipe_fds[1]);
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        throw_errno("fork");
    }
    if (pid_ == 0) {
        exec_child(args.data(), fds, parent, error_write.get());
    }
    // Also set here, so that a kill right after this constructor reaches the
    // group whichever of the two runs first.
    ::setpgid(pid_, pid_);
    error_write.reset();
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(error_read.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error)) {
        kill();
        throw std::system_error(error, std::generic_category(), "cannot start " + argv[0]);
    }
}

ChildProcess::~ChildProcess() {
    kill();
}

void ChildProcess::kill() {
    if (pid_ < 0 || status_) {
        return;
    }
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = status;
}

std::optional<int> ChildProcess::exit_status() {
    if (!status_ && pid_ >= 0) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
            ::kill(-pid_, SIGKILL);  // whatever the child left behind in its group
        }
    }
    return status_;
}

std::string describe_wait_status(int status) {
    if (WIFEXITED(status)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = ::sigdescr_np(signal);
        return "killed by signal " + std::to_string(signal) +
               (name ? std::string(" (") + name + ")" : "");
    }
    return "ended (status " + std::to_string(status) + ")";
}

std::optional<std::string> find_program(const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    if (name.find('/') != std::string::npos) {
        return ::access(name.c_str(), X_OK) == 0 ? std::optional(name) : std::nullopt;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace stm32sim
