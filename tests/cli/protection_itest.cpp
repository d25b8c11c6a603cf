// Protected chips through the command line on simulated boards: read
// protection reported as such and lifted only with --yes, write protection
// named when programming misses a protected group, and the option bytes of
// three families decoded.
#include <nlohmann/json.hpp>

#include "cli_harness.h"

namespace cli_test {
namespace {

constexpr std::uint32_t kFlash = 0x08000000;

struct Family {
    const char* product;
    std::uint32_t group;    // a write-protection group
    std::uint32_t inGroup;  // its first byte, from the start of flash
    const char* user;       // the user options line of a fresh chip
};

const Family kFamilies[] = {
    {"f103c8", 2, 8192, "0xFF"},
    {"f407vg", 5, 0x2'0000, "0xFF"},
    {"g071rb", 3, 3 * 2048, "0xFF 0xFF 0xFF"},
};

class Protection : public ::testing::TestWithParam<Family> {
  protected:
    static stm32sim::TargetConfig config(bool readProtected, std::vector<std::uint32_t> groups) {
        stm32sim::TargetConfig c;
        c.product = *stm32sim::find_product(GetParam().product);
        c.read_protected = readProtected;
        c.write_protected_groups = std::move(groups);
        return c;
    }
    CliRun run(SimBoard& board, std::vector<std::string> args) {
        args.insert(args.end(), {"--port", board.port(), "--retries", "1", "--quiet"});
        return runCli(args);
    }
    TempDir files;
};

TEST_P(Protection, AReadProtectedChipIsReportedAndUnprotectErasesItForProgramming) {
    SimBoard board(Transport::kRfc2217, config(true, {}));
    board.chip().load_flash(kFlash, std::vector<std::uint8_t>(256, 0x42));

    const auto info = run(board, {"info"});
    ASSERT_EQ(0, info.code) << info.err;
    EXPECT_TRUE(contains(info.out, "the chip is read-protected")) << info.out;
    EXPECT_TRUE(contains(info.out, "erases the whole flash")) << info.out;

    const std::string image = files.write("app.bin", std::string(512, '\x5A'));
    const auto refused = run(board, {"flash", image});
    EXPECT_EQ(1, refused.code);
    EXPECT_TRUE(contains(refused.err, "read-protected")) << refused.err;
    EXPECT_FALSE(contains(refused.err, "BOOT0")) << "not a wiring fault: " << refused.err;

    const auto unconfirmed = run(board, {"unprotect", "--read"});
    EXPECT_EQ(2, unconfirmed.code);
    EXPECT_TRUE(contains(unconfirmed.err, "erase the whole flash")) << unconfirmed.err;
    EXPECT_TRUE(board.chip().readout_protected()) << "nothing sent without --yes";

    const auto lifted = run(board, {"unprotect", "--read", "--yes"});
    ASSERT_EQ(0, lifted.code) << lifted.err;
    EXPECT_TRUE(contains(lifted.out, "level 0 (not protected)")) << lifted.out;
    EXPECT_FALSE(board.chip().readout_protected());
    EXPECT_EQ(board.flash(0, 256), std::vector<std::uint8_t>(256, 0xFF));

    const auto flashed = run(board, {"flash", image});
    ASSERT_EQ(0, flashed.code) << flashed.err;
    EXPECT_EQ(board.flash(0, 512), std::vector<std::uint8_t>(512, 0x5A));
}

TEST_P(Protection, ProgrammingAWriteProtectedGroupFailsNamingProtectionUntilLifted) {
    SimBoard board(Transport::kRfc2217, config(false, {}));
    const Family& f = GetParam();
    const auto set = run(board, {"protect", "--write", std::to_string(f.group)});
    ASSERT_EQ(0, set.code) << set.err;
    EXPECT_TRUE(contains(set.out, "write protection:   groups " + std::to_string(f.group)))
        << set.out;

    const std::string image = files.write("app.bin", std::string(64, '\x33'));
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X", kFlash + f.inGroup);
    const auto blocked = run(board, {"flash", image, "--address", address});
    EXPECT_EQ(5, blocked.code);
    EXPECT_TRUE(contains(blocked.err, std::string("verify failed at ") + address)) << blocked.err;
    EXPECT_TRUE(contains(blocked.err, "write-protected group " + std::to_string(f.group)))
        << blocked.err;

    const auto lifted = run(board, {"unprotect", "--write"});
    ASSERT_EQ(0, lifted.code) << lifted.err;
    EXPECT_TRUE(contains(lifted.out, "write protection:   none")) << lifted.out;
    const auto flashed = run(board, {"flash", image, "--address", address});
    ASSERT_EQ(0, flashed.code) << flashed.err;
    EXPECT_EQ(board.flash(f.inGroup, 64), std::vector<std::uint8_t>(64, 0x33));
}

TEST_P(Protection, InfoDecodesTheOptionBytes) {
    const Family& f = GetParam();
    SimBoard board(Transport::kPty, config(false, {f.group}));
    const auto text = run(board, {"info"});
    ASSERT_EQ(0, text.code) << text.err;
    EXPECT_TRUE(contains(text.out, "read protection:    level 0 (not protected)")) << text.out;
    EXPECT_TRUE(contains(text.out, "write protection:   groups " + std::to_string(f.group)))
        << text.out;
    EXPECT_TRUE(contains(text.out, std::string("user options:       ") + f.user)) << text.out;

    const auto json = run(board, {"info", "--json"});
    ASSERT_EQ(0, json.code) << json.err;
    const auto protection = nlohmann::json::parse(json.out)["protection"];
    EXPECT_EQ(false, protection["read_protected"]);
    EXPECT_EQ(0, protection["read_protection_level"]);
    EXPECT_EQ(std::vector<std::uint32_t>{f.group}, protection["write_protected_groups"]);
}

INSTANTIATE_TEST_SUITE_P(Families, Protection, ::testing::ValuesIn(kFamilies),
                         [](const auto& param) { return std::string(param.param.product); });

TEST(ProtectionOptions, DestructiveOrIncompleteRequestsAreRefusedBeforeAnyPort) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"protect", "--read"}, "add --yes"},
        {{"unprotect", "--read"}, "erase the whole flash"},
        {{"protect", "--write"}, "which groups?"},
        {{"protect", "--write", "3-1"}, "runs backwards"},
        {{"protect", "--write", "256"}, "up to 255"},
        {{"unprotect"}, "give --read or --write"},
        {{"unprotect", "--write", "4"}, "unexpected argument"},
    };
    for (const auto& c : cases) {
        auto args = c.args;
        args.insert(args.end(), {"--port", "/dev/null"});
        const auto result = runCli(args);
        EXPECT_EQ(2, result.code) << c.args[0];
        EXPECT_TRUE(contains(result.err, c.says)) << result.err;
    }
}

}  // namespace
}  // namespace cli_test
