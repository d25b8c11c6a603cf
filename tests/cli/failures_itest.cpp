// Each way a run can fail, with its exit code and the line that says what
// to do; and many boards at once, one of them failing.
#include <algorithm>
#include <chrono>

#include "cli_harness.h"
#include "pty_pair.h"
#include "wait_for.h"

namespace cli_test {
namespace {

using namespace std::chrono_literals;

TEST(ExitCodes, EachFailureHasItsCodeAndOneClearLine) {
    SimBoard board(Transport::kPty);
    TempDir files;
    const auto good = files.write("good.bin", std::string(64, '\x11'));
    const auto badHex = files.write("bad.hex", ":10000000ZZ\n");
    const auto far = files.write("far.hex", isp::toIntelHex(0x08010000, pattern(16)));
    chipload::test::PtyPair silent;  // a port where nobody answers
    const struct {
        std::vector<std::string> args;
        int code;
        std::string line;
    } cases[] = {
        {{"flash", good, "--port", board.port()}, 0, ""},
        {{"flash", good}, 2, "chipload: flash: no port given"},
        {{"flash", files.file("missing.bin"), "--port", board.port()},
         3,
         "missing.bin: cannot read it"},
        {{"flash", badHex, "--port", board.port()}, 3, "bad.hex: not valid Intel HEX on line 1"},
        {{"flash", badHex, "--address", "0x08000000", "--port", board.port()}, 3, "bad.hex"},
        {{"flash", far, "--port", board.port()}, 3, "do not fit the 64 KiB flash"},
        {{"flash", far, "--address", "0x08000000", "--port", board.port()},
         2,
         "--address is for raw binary files"},
        {{"info", "--port", "/dev/chipload-no-such-port"},
         4,
         "cannot open /dev/chipload-no-such-port: no such device"},
        {{"info", "--port", silent.slavePath(), "--retries", "1", "--reset-pulse", "10"},
         1,
         "no bootloader answered 0x7F after 2 tries"},
    };
    for (const auto& c : cases) {
        const auto started = std::chrono::steady_clock::now();
        const auto result = runCli(c.args);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(c.code, result.code) << c.args[0] << " " << c.line << ": " << result.err;
        EXPECT_TRUE(contains(result.err, c.line)) << result.err;
        if (c.code != 0) {
            EXPECT_EQ("", result.out);
            // One line says it all (plain progress lines aside).
            EXPECT_LE(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;
        }
        // A silent board costs its retries, not more: two resets and
        // synchronisations of well under a second each.
        EXPECT_LT(took, 10s) << c.line;
    }
}

TEST(ExitCodes, RefusedCommandEndsWithOneAndNamesIt) {
    stm32sim::TargetConfig config;
    config.faults.refuse_command = 0x11;  // Read Memory
    SimBoard board(Transport::kRfc2217, config);
    const auto result = runCli({"read", "/dev/null", "--length", "16", "--port", board.port()});
    EXPECT_EQ(1, result.code);
    EXPECT_TRUE(contains(result.err, "the bootloader refused Read Memory")) << result.err;
}

TEST(Wiring, WrongBoot0PolarityGetsTheHintAndTheOtherPolarityWorks) {
    stm32sim::TargetConfig config;
    config.boot0 = stm32sim::Boot0Polarity::rts_deasserted;
    SimBoard board(Transport::kRfc2217, config);
    board.chip().load_flash(0x08000000, pattern(4096));  // a program that greets
    const std::vector<std::string> base{"info", "--port", board.port(), "--retries", "1"};
    const auto wrong = runCli(base);
    EXPECT_EQ(1, wrong.code);
    EXPECT_TRUE(contains(wrong.err, "reset on DTR for 100 ms, BOOT0 on RTS")) << wrong.err;
    EXPECT_TRUE(contains(wrong.err, "--invert-boot0")) << wrong.err;
    auto fixed = base;
    fixed.push_back("--invert-boot0");
    const auto right = runCli(fixed);
    EXPECT_EQ(0, right.code) << right.err;
    EXPECT_TRUE(contains(right.out, "(0x410)"));
}

TEST(ManyBoards, FourAtOnceOneFailsTheOthersFinish) {
    std::vector<std::unique_ptr<SimBoard>> boards;
    for (int i = 0; i < 4; ++i) {
        stm32sim::TargetConfig config;
        if (i == 2)
            config.faults.refuse_command = 0x31;  // Write Memory
        boards.push_back(
            std::make_unique<SimBoard>(i % 2 ? Transport::kRfc2217 : Transport::kPty, config));
    }
    TempDir files;
    const auto bytes = pattern(5000);
    std::vector<std::string> args{
        "flash", files.write("image.bin", std::string(bytes.begin(), bytes.end()))};
    for (const auto& board : boards)
        args.insert(args.end(), {"--port", board->port()});
    const auto result = runCli(args);
    EXPECT_EQ(1, result.code) << result.err;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        const auto& port = boards[i]->port();
        const auto row = result.out.substr(result.out.find("\n" + port + " ") + 1);
        const auto line = row.substr(0, row.find('\n'));
        if (i == 2) {
            EXPECT_TRUE(contains(
                line, "FAILED (1): writing at 0x08000000: the bootloader refused Write Memory"))
                << line;
            EXPECT_TRUE(contains(result.err, port)) << result.err;
        } else {
            EXPECT_TRUE(contains(line, "STM32")) << line;
            EXPECT_TRUE(contains(line, "ok: flashed 5000 bytes at 0x08000000, verified")) << line;
            EXPECT_EQ(bytes, boards[i]->flash(0, 5000));
        }
    }
    EXPECT_TRUE(contains(result.out, "port ")) << result.out;
    EXPECT_TRUE(contains(result.out, "  result\n")) << result.out;
}

TEST(Flash, AWriteTheChipIgnoresIsCaughtByTheReadBack) {
    // Sector 1 (0x08001000-0x08001FFF) write-protected: the F1 skips writes
    // and erases there without a word, only reading back shows it.
    SimBoard board(Transport::kPty);
    board.chip().receive(std::vector<std::uint8_t>{0x7F});
    board.chip().receive(std::vector<std::uint8_t>{0x63, 0x9C});
    board.chip().receive(std::vector<std::uint8_t>{0x00, 0x01, 0x01});
    ASSERT_TRUE(
        test_support::WaitFor([&] { return board.chip().write_protection() == 0xFFFFFFFDu; }));
    TempDir files;
    const auto bytes = pattern(8192);
    const auto path = files.write("image.bin", std::string(bytes.begin(), bytes.end()));
    const auto result = runCli({"flash", path, "--port", board.port()});
    EXPECT_EQ(5, result.code);
    char expected[96];
    std::snprintf(expected, sizeof expected,
                  "verify failed at 0x08001000: flash holds 0xFF, the file 0x%02X", bytes[4096]);
    EXPECT_TRUE(contains(result.err, expected)) << result.err;
    const auto skipped = runCli({"flash", path, "--no-verify", "--port", board.port()});
    EXPECT_EQ(0, skipped.code) << skipped.err;
}

}  // namespace
}  // namespace cli_test
