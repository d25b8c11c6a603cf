// A program a test starts as a user would, its standard output and error
// going to files the test reads while it runs; killed if still running when
// the test lets go of it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace test_support {

class ChildProgram {
  public:
    // Runs args[0] (a path) with the rest as its arguments; its output goes
    // to `stem`.out and `stem`.err.
    ChildProgram(const std::string& stem, std::vector<std::string> args);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool started() const { return pid_ > 0; }
    std::string out() const;
    std::string err() const;
    // The first complete line of standard output; empty until it has come.
    std::string firstLine() const;
    void signal(int number) const;
    // Waits for the end: the exit code, or 128 + the signal that ended it.
    int wait();

  private:
    std::string out_, err_;
    pid_t pid_ = -1;
};

}  // namespace test_support
