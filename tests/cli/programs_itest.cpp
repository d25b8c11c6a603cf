// The chipload and chipload-sim programs as a user starts them: a flash cut
// short by SIGINT, and the same port used again afterwards.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>

#include "cli_harness.h"
#include "wait_for.h"

extern char** environ;

namespace cli_test {
namespace {

using namespace std::chrono_literals;

// A program running with its standard output and error in files.
class Child {
  public:
    Child(const TempDir& files, const std::string& name, std::vector<std::string> args)
        : out_(files.file(name + ".out")), err_(files.file(name + ".err")) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool started() const { return pid_ > 0; }
    std::string out() const { return readFile(out_); }
    std::string err() const { return readFile(err_); }
    void signal(int number) const { kill(pid_, number); }
    int wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    std::string out_, err_;
    pid_t pid_ = -1;
};

TEST(Programs, SigintStopsAFlashAtABlockAndThePortStaysUsable) {
    TempDir files;
    Child sim(
        files, "sim",
        {CHIPLOAD_SIM_EXECUTABLE, "--pty", "--timing", "real", "--dump", files.file("dump.bin")});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(test_support::WaitFor([&] { return sim.out().find('\n') != std::string::npos; }));
    const std::string port = sim.out().substr(0, sim.out().find('\n'));

    const auto bytes = pattern(64 * 1024);
    const auto image = files.write("image.bin", std::string(bytes.begin(), bytes.end()));
    Child flash(files, "flash", {CHIPLOAD_EXECUTABLE, "flash", image, "--port", port});
    ASSERT_TRUE(flash.started());
    // Plain progress lines (standard error is a file): the first quarter.
    ASSERT_TRUE(test_support::WaitFor([&] { return contains(flash.err(), "write   16384/"); }, 30s))
        << flash.err();
    flash.signal(SIGINT);
    EXPECT_EQ(130, flash.wait());
    const std::string err = flash.err();
    const std::string head = "interrupted writing after ";
    const auto at = err.find(head);
    ASSERT_NE(std::string::npos, at) << err;
    const std::size_t written = std::stoul(err.substr(at + head.size()));
    char tail[96];
    std::snprintf(tail, sizeof tail,
                  "%zu of 65536 bytes (up to 0x%08zX); the board waits in its bootloader", written,
                  0x08000000 + written);
    EXPECT_EQ(tail, err.substr(at + head.size(), std::strlen(tail))) << err;
    EXPECT_EQ(0u, written % 256);
    EXPECT_GE(written, 16384u);
    EXPECT_LT(written, 65536u);
    EXPECT_EQ("", flash.out());

    Child info(files, "info", {CHIPLOAD_EXECUTABLE, "info", "--port", port, "--quiet"});
    EXPECT_EQ(0, info.wait()) << info.err();
    EXPECT_TRUE(contains(info.out(), "(0x410)")) << info.out();

    sim.signal(SIGTERM);
    EXPECT_EQ(0, sim.wait());
    const auto dump = readFile(files.file("dump.bin"));
    ASSERT_EQ(64u * 1024, dump.size());
    // Every block up to the stop was written whole; nothing after it.
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(written)),
              dump.substr(0, written));
    EXPECT_EQ(std::string(64 * 1024 - written, '\xFF'), dump.substr(written));
}

TEST(Programs, HelpAndAnRfc2217Board) {
    TempDir files;
    Child help(files, "help", {CHIPLOAD_EXECUTABLE, "flash", "--help"});
    EXPECT_EQ(0, help.wait());
    EXPECT_TRUE(contains(help.out(), "5  verify mismatch")) << help.out();

    Child sim(files, "sim",
              {CHIPLOAD_SIM_EXECUTABLE, "--rfc2217", "127.0.0.1:0", "--timing", "none"});
    ASSERT_TRUE(test_support::WaitFor([&] { return sim.out().find('\n') != std::string::npos; }));
    const std::string port = sim.out().substr(0, sim.out().find('\n'));
    Child info(files, "info", {CHIPLOAD_EXECUTABLE, "info", "--json", "--port", port});
    EXPECT_EQ(0, info.wait()) << info.err();
    EXPECT_TRUE(contains(info.out(), "\"product_id\":\"0x410\"")) << info.out();
    Child usage(files, "usage", {CHIPLOAD_EXECUTABLE, "info", "--port"});
    EXPECT_EQ(2, usage.wait());
    EXPECT_TRUE(contains(usage.err(), "--port: missing value")) << usage.err();
}

}  // namespace
}  // namespace cli_test
