// The chipload executable as a user or a script starts it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "temp_files.h"
#include "wait_for.h"

namespace {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

// Runs the program with arguments, without a display whatever the test's
// environment holds; sends SIGTERM after `termAfter` when set.
// Whether `program` runs in the process (exec done) with SIGTERM blocked: from
// then on it takes the signal as a quit instead of dying of it.
bool TakesSigterm(pid_t pid, const std::string& program) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    if (std::filesystem::read_symlink(proc + "/exe", error) !=
        std::filesystem::canonical(program, error)) {
        return false;
    }
    std::ifstream status(proc + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) == 0) {
            return (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
        }
    }
    return false;
}

Result RunChipload(const std::string& program, std::vector<std::string> arguments,
                   bool terminate = false) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            unsetenv(name);
        }
        sigset_t none;  // the program starts with no signal blocked by the test
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (auto& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (terminate) {
        EXPECT_TRUE(test_support::WaitFor([&] { return TakesSigterm(child, program); }));
        kill(child, SIGTERM);
    }
    Result result;
    result.out = ReadAll(out[0]);
    result.err = ReadAll(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

TEST(CommandLine, HelpAndBadArguments) {
    const auto help = RunChipload(CHIPLOAD_EXECUTABLE, {"--help"});
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("--com N=DEVICE"));
    // Every command the command line takes, one line each, and where its
    // options are.
    EXPECT_NE(std::string::npos, help.out.find("chipload COMMAND --help")) << help.out;
    for (const char* command :
         {"flash FILE ", "verify FILE ", "read OUT ", "erase ", "blank-check ", "info ",
          "go [ADDRESS] ", "protect ", "unprotect "}) {
        EXPECT_NE(std::string::npos, help.out.find(std::string("\n  ") + command))
            << command << " in:\n"
            << help.out;
        const std::string name = std::string(command).substr(0, std::string(command).find(' '));
        EXPECT_EQ(0, RunChipload(CHIPLOAD_EXECUTABLE, {name, "--help"}).exitCode) << name;
    }
    const auto unknown = RunChipload(CHIPLOAD_EXECUTABLE, {"--frobnicate"});
    EXPECT_EQ(2, unknown.exitCode);
    EXPECT_NE(std::string::npos, unknown.err.find("--frobnicate"));
    const auto badMap = RunChipload(CHIPLOAD_EXECUTABLE, {"--com", "11=/dev/null"});
    EXPECT_EQ(2, badMap.exitCode);
    EXPECT_NE(std::string::npos, badMap.err.find("11=/dev/null"));
    // The window toolkit's own options pass the check; what follows them is still checked.
    const auto afterToolkit =
        RunChipload(CHIPLOAD_EXECUTABLE, {"-platform", "offscreen", "--frobnicate"});
    EXPECT_EQ(2, afterToolkit.exitCode);
    EXPECT_NE(std::string::npos, afterToolkit.err.find("'--frobnicate'"));
}

TEST(CommandLine, HeadlessRunQuitsCleanlyOnSigterm) {
    const auto run = RunChipload(CHIPLOAD_EXECUTABLE, {"--headless", "--com", "2=/dev/null"}, true);
    EXPECT_EQ(0, run.exitCode) << run.err;
    // Both confirmations were asked and answered on standard output.
    EXPECT_NE(std::string::npos, run.out.find("请您确认是否退出(Y/N)?"));
    EXPECT_NE(std::string::npos, run.out.find("请您再次确认是否退出(Y/N)?"));
}

TEST(CommandLine, MissingPanelFileFailsWithTheReason) {
    apptest::TempDir dir;
    const auto copy = dir.path() / "chipload";
    std::filesystem::copy_file(CHIPLOAD_EXECUTABLE, copy);
    const auto run = RunChipload(copy.string(), {"--headless"});
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("start-up failed"));
    EXPECT_NE(std::string::npos, run.err.find("ChipLoad.uir"));
}

}  // namespace
