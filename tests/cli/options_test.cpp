#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

namespace cli_test {
namespace {

using cli::ExitCode;
using cli::Subcommand;

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < line.size()) {
        const auto space = line.find(' ', at);
        out.push_back(line.substr(at, space - at));
        if (space == std::string::npos)
            break;
        at = space + 1;
    }
    return out;
}

TEST(Options, AcceptedLines) {
    auto parse = [](const std::string& line) {
        auto outcome = cli::parseOptions(words(line));
        EXPECT_TRUE(outcome.options) << line << ": " << outcome.message;
        return outcome.options.value_or(cli::Options{});
    };
    auto flash = parse(
        "flash a.bin --address 0x08004000 --no-verify --go --mass-erase --port /dev/ttyUSB0 "
        "--baud 57600 --reset rts --boot0 dtr --invert-reset --invert-boot0 --reset-pulse 20 "
        "--retries 0 --quiet");
    EXPECT_EQ(Subcommand::kFlash, flash.command);
    EXPECT_EQ("a.bin", flash.file);
    EXPECT_EQ(0x08004000u, flash.address);
    EXPECT_FALSE(flash.verify);
    EXPECT_TRUE(flash.goAfter && flash.massErase && flash.quiet);
    EXPECT_EQ(57600u, flash.baud);
    EXPECT_EQ(isp::ControlLine::kRts, flash.wiring.reset);
    EXPECT_EQ(isp::ControlLine::kDtr, flash.wiring.boot0);
    EXPECT_TRUE(flash.wiring.invertReset && flash.wiring.invertBoot0);
    EXPECT_EQ(20, flash.wiring.resetPulse.count());
    EXPECT_EQ(0u, flash.retries);

    const auto defaults = parse("verify a.hex --port COM1");
    EXPECT_TRUE(defaults.verify);
    EXPECT_EQ(115200u, defaults.baud);
    EXPECT_EQ(isp::ControlLine::kDtr, defaults.wiring.reset);
    EXPECT_EQ(isp::ControlLine::kRts, defaults.wiring.boot0);

    const auto many = parse("info --json --ports A,B --port=C");
    EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), many.ports);
    EXPECT_TRUE(many.json);

    const auto read = parse("read out.hex --port P --address 4096 --length 0x100");
    EXPECT_EQ(4096u, read.address);
    EXPECT_EQ(256u, read.length);
    EXPECT_EQ(cli::OutputFormat::kHex, cli::formatFor(read));
    EXPECT_EQ(cli::OutputFormat::kBinary,
              cli::formatFor(parse("read out.hex --format bin --port P")));
    EXPECT_EQ(cli::OutputFormat::kBinary, cli::formatFor(parse("read out.img --port P")));

    const auto pages = parse("erase --pages 3-7 --port P");
    ASSERT_TRUE(pages.pages);
    EXPECT_EQ(3u, pages.pages->first);
    EXPECT_EQ(7u, pages.pages->last);
    EXPECT_EQ(5u, parse("erase --pages 5 --port P").pages->last);
    EXPECT_EQ(0x20000000u, parse("go 0x20000000 --port P").address);
    EXPECT_FALSE(parse("go --port P").address);
    EXPECT_EQ(Subcommand::kBlankCheck, parse("blank-check --port P").command);
}

TEST(Options, RefusedLinesNameTheFault) {
    const struct {
        const char* line;
        const char* message;
    } cases[] = {
        {"", "expected a subcommand"},
        {"burn a.bin --port P", "expected a subcommand"},
        {"flash --port P", "which file?"},
        {"flash a.bin", "no port given"},
        {"flash a.bin b.bin --port P", "unexpected argument 'b.bin'"},
        {"flash a.bin --port P --frobnicate", "unknown option '--frobnicate'"},
        {"flash a.bin --port P --json", "--json does not apply to flash"},
        {"read out.bin --port P --no-verify", "--no-verify does not apply to read"},
        {"flash a.bin --port P --baud", "--baud: missing value"},
        {"flash a.bin --port P --baud fast", "--baud: expected a number"},
        {"flash a.bin --port P --baud 0", "--baud: at least 50"},
        {"flash a.bin --port P --address 0x1FFFFFFFF", "--address: expected a number"},
        {"flash a.bin --port P --address -4", "--address: expected a number"},
        {"flash a.bin --port P --reset gpio", "--reset: expected dtr, rts or none"},
        {"flash a.bin --port P --reset rts --boot0 rts", "cannot share one line"},
        {"flash a.bin --port P --go=yes", "--go takes no value"},
        {"erase --port P", "either --all or --pages"},
        {"erase --all --pages 1-2 --port P", "either --all or --pages"},
        {"erase --pages 7-3 --port P", "runs backwards"},
        {"read out.bin --port P --format srec", "--format: expected bin or hex"},
        {"read out.bin --port P --length 0", "--length: must not be 0"},
        {"read out.bin --port P --length 0x1000001", "--length: expected a number up to 16777216"},
        {"read out.bin --ports A,B", "one port at a time"},
        {"info --ports A,,B", "empty port name"},
        {"info --port A --port A", "given twice"},
        {"go 12ab --port P", "go ADDRESS: expected a number"},
    };
    for (const auto& c : cases) {
        const auto outcome = cli::parseOptions(words(c.line));
        EXPECT_FALSE(outcome.options) << c.line;
        EXPECT_EQ(ExitCode::kUsage, outcome.code) << c.line;
        EXPECT_NE(std::string::npos, outcome.message.find(c.message))
            << c.line << " -> " << outcome.message;
    }
}

TEST(Options, HelpListsEveryExitCode) {
    const auto outcome = cli::parseOptions({"flash", "--help"});
    EXPECT_EQ(ExitCode::kSuccess, outcome.code);
    for (const char* line :
         {"0  success", "1  the target refused", "2  usage error", "3  file unreadable or invalid",
          "4  port cannot be opened", "5  verify mismatch", "130  interrupted"}) {
        EXPECT_NE(std::string::npos, outcome.message.find(line)) << line;
    }
}

}  // namespace
}  // namespace cli_test
