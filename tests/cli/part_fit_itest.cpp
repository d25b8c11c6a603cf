// A HEX file that starts off the part's write unit and leaves a gap: flash
// pads it in front, writes the gap with the part's erased value (0x00 on the
// L0), and verify and blank-check judge by that value too.
#include <algorithm>
#include <string>

#include "cli_harness.h"

namespace cli_test {
namespace {

constexpr std::uint32_t kFlash = 0x08000000;

struct PartCase {
    const char* part;
    std::uint8_t erased;
    std::uint32_t firstWrite;  // the write unit's boundary below the file's first byte
};

class PartFit : public ::testing::TestWithParam<PartCase> {
  protected:
    CliRun run(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", board.port(), "--retries", "1"});
        return runCli(args);
    }

    SimBoard board{Transport::kRfc2217, {}, GetParam().part};
    TempDir files;
};

TEST_P(PartFit, FlashPadsInFrontAndFillsGapsWithTheErasedValue) {
    const std::uint8_t erased = GetParam().erased;
    const auto head = pattern(11, 4);
    const auto tail = pattern(8, 5);
    std::string hex = isp::toIntelHex(kFlash + 5, head);
    hex.erase(hex.rfind(":00000001FF"));
    hex += isp::toIntelHex(kFlash + 0x100, tail);
    const auto path = files.write("app.hex", hex);

    const auto flashed = run({"flash", path});
    ASSERT_EQ(0, flashed.code) << flashed.err;
    EXPECT_TRUE(contains(flashed.out, "verified")) << flashed.out;
    EXPECT_EQ(std::vector<std::uint8_t>(5, erased), board.flash(0, 5));
    EXPECT_EQ(head, board.flash(5, 11));
    EXPECT_EQ(std::vector<std::uint8_t>(0x100 - 16, erased), board.flash(16, 0x100 - 16));
    EXPECT_EQ(tail, board.flash(0x100, 8));
    const auto commands = board.chip().commands();
    const auto firstWrite = std::find_if(commands.begin(), commands.end(),
                                         [](const auto& c) { return c.command == 0x31; });
    ASSERT_NE(commands.end(), firstWrite);
    EXPECT_EQ(GetParam().firstWrite, firstWrite->address.value_or(0));

    const auto verified = run({"verify", path});
    EXPECT_EQ(0, verified.code) << verified.err;
    const auto notBlank = run({"blank-check"});
    EXPECT_EQ(5, notBlank.code);
    EXPECT_TRUE(contains(notBlank.err, "not blank: 0x08000005")) << notBlank.err;
}

// A Get reply without either erase command: erase and flash say so and send
// no erase at all.
TEST(EraseCommand, ABootloaderListingNoneIsRefusedWithTheReason) {
    stm32sim::TargetConfig config;
    config.erase_command = 0;
    SimBoard board(Transport::kRfc2217, config, "g071rb");
    TempDir files;
    const auto path = files.write("app.bin", std::string(1024, 'x'));
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"erase", "--all"}, {"erase", "--pages", "0-1"}, {"flash", path}}) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--port", board.port(), "--retries", "1"});
        const auto result = runCli(full);
        EXPECT_EQ(1, result.code) << result.err;  // the target failed
        EXPECT_TRUE(contains(result.err, "lists neither Erase (0x43) nor Extended Erase (0x44)"))
            << result.err;
        for (const auto& record : board.chip().commands()) {
            EXPECT_NE(0x44, record.command);
            EXPECT_NE(0x43, record.command);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, PartFit,
                         ::testing::Values(PartCase{"g071rb", 0xFF, kFlash},
                                           PartCase{"l053r8", 0x00, kFlash + 4}),
                         [](const auto& testCase) { return std::string(testCase.param.part); });

}  // namespace
}  // namespace cli_test
