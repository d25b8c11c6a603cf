// The chipload and chipload-sim programs as a user starts them: a flash cut
// short by SIGINT, and the same port used again afterwards.
#include <signal.h>

#include <chrono>
#include <cstring>

#include "child_program.h"
#include "cli_harness.h"
#include "wait_for.h"

namespace cli_test {
namespace {

using namespace std::chrono_literals;

using Child = test_support::ChildProgram;

TEST(Programs, SigintStopsAFlashAtABlockAndThePortStaysUsable) {
    TempDir files;
    Child sim(files.file("sim"), {CHIPLOAD_SIM_EXECUTABLE, "--pty", "--timing", "real", "--dump",
                                  files.file("dump.bin")});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(test_support::WaitFor([&] { return !sim.firstLine().empty(); }));
    const std::string port = sim.firstLine();

    const auto bytes = pattern(64 * 1024);
    const auto image = files.write("image.bin", std::string(bytes.begin(), bytes.end()));
    Child flash(files.file("flash"), {CHIPLOAD_EXECUTABLE, "flash", image, "--port", port});
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

    Child info(files.file("info"), {CHIPLOAD_EXECUTABLE, "info", "--port", port, "--quiet"});
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
    Child help(files.file("help"), {CHIPLOAD_EXECUTABLE, "flash", "--help"});
    EXPECT_EQ(0, help.wait());
    EXPECT_TRUE(contains(help.out(), "5  verify mismatch")) << help.out();

    Child sim(files.file("sim"),
              {CHIPLOAD_SIM_EXECUTABLE, "--rfc2217", "127.0.0.1:0", "--timing", "none"});
    ASSERT_TRUE(test_support::WaitFor([&] { return !sim.firstLine().empty(); }));
    const std::string port = sim.firstLine();
    Child info(files.file("info"), {CHIPLOAD_EXECUTABLE, "info", "--json", "--port", port});
    EXPECT_EQ(0, info.wait()) << info.err();
    EXPECT_TRUE(contains(info.out(), "\"product_id\":\"0x410\"")) << info.out();
    Child usage(files.file("usage"), {CHIPLOAD_EXECUTABLE, "info", "--port"});
    EXPECT_EQ(2, usage.wait());
    EXPECT_TRUE(contains(usage.err(), "--port: missing value")) << usage.err();
}

}  // namespace
}  // namespace cli_test
