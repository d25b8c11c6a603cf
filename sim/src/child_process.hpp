// A child process owned by the one who started it: it runs in its own
// process group, dies with the thread that started it (even when this
// process is killed), and is killed and reaped when its owner goes away.
#pragma once

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stm32sim {

class ChildProcess {
  public:
    // Runs `argv` (argv[0] a path, not searched) with fds[i] as the child's
    // descriptor i and nothing else open. Throws std::system_error when the
    // program cannot be started (the exec error, e.g. ENOENT).
    ChildProcess(const std::vector<std::string>& argv, std::span<const int> fds);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Kills the whole process group and reaps the child; idempotent.
    void kill();
    // The wait status once the child has ended (without blocking).
    std::optional<int> exit_status();

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// "exited with status 1", "killed by signal 6 (Aborted)".
std::string describe_wait_status(int status);

// The executable `name` on PATH (or `name` itself when it holds a slash and
// is executable); nullopt when there is none.
std::optional<std::string> find_program(const std::string& name);

}  // namespace stm32sim
