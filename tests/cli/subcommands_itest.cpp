// Every subcommand against a simulated board, over a pseudo-terminal and
// over RFC 2217, checked by what lands in the chip's flash, in files and on
// the two output streams.
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <variant>

#include "cli_harness.h"
#include "device_table.h"
#include "image_file.h"

namespace cli_test {
namespace {

constexpr std::uint32_t kFlash = 0x08000000;
constexpr std::uint32_t kFlashBytes = 64 * 1024;
constexpr std::uint32_t kPage = 1024;

class Subcommands : public ::testing::TestWithParam<Transport> {
  protected:
    CliRun run(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", board.port(), "--retries", "1"});
        return runCli(args);
    }

    SimBoard board{GetParam()};
    TempDir files;
};

TEST_P(Subcommands, InfoAsTextAndJson) {
    const auto text = run({"info"});
    ASSERT_EQ(0, text.code) << text.err;
    EXPECT_TRUE(contains(text.out, "bootloader version: 2.2")) << text.out;
    EXPECT_TRUE(contains(text.out, "0x31 Write Memory")) << text.out;
    EXPECT_TRUE(contains(text.out, "(0x410)")) << text.out;
    EXPECT_TRUE(contains(text.out, "flash:              64 KiB at 0x08000000")) << text.out;

    const auto json = run({"info", "--json", "--quiet"});
    ASSERT_EQ(0, json.code) << json.err;
    EXPECT_EQ("", json.err);
    const auto object = nlohmann::json::parse(json.out);
    EXPECT_EQ("0x410", object["product_id"]);
    EXPECT_EQ(kFlashBytes, object["flash_size"]);
    EXPECT_EQ("2.2", object["bootloader_version"]);
    std::string uid;
    for (const std::uint8_t byte : board.chip().unique_id()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        uid += digits;
    }
    EXPECT_EQ(uid, object["unique_id"]);
    EXPECT_EQ(board.chip().product().ram_bytes, object["ram_size"]);
    EXPECT_EQ("Get", object["commands"][0]["name"]);
}

TEST_P(Subcommands, HexBinaryAndElfGiveTheSameFlash) {
    // Not a whole number of pages, and starting one page in: the pages around
    // it must stay untouched.
    const auto bytes = pattern(3 * kPage + 100);
    const std::uint32_t at = kFlash + kPage;
    const std::vector<std::uint8_t> outside(kPage, 0x5A);
    const struct {
        std::string name;
        std::string content;
        std::vector<std::string> extra;
    } files_[] = {
        {"image.hex", isp::toIntelHex(at, bytes), {}},
        {"image.bin", std::string(bytes.begin(), bytes.end()), {"--address", "0x08000400"}},
        {"image.elf", elfImage(at, bytes, 2000), {}},
    };
    for (const auto& file : files_) {
        board.chip().load_flash(kFlash, std::vector<std::uint8_t>(kFlashBytes, 0x00));
        board.chip().load_flash(kFlash, outside);
        board.chip().load_flash(kFlash + 5 * kPage, outside);
        std::vector<std::string> args{"flash", files.write(file.name, file.content)};
        args.insert(args.end(), file.extra.begin(), file.extra.end());
        const auto flashed = run(args);
        ASSERT_EQ(0, flashed.code) << file.name << ": " << flashed.err;
        EXPECT_EQ("flashed 3172 bytes at 0x08000400, verified\n", flashed.out) << file.name;
        EXPECT_EQ(bytes, board.flash(kPage, static_cast<std::uint32_t>(bytes.size()))) << file.name;
        // The rest of the last page touched was erased with it; the pages
        // either side were not touched.
        EXPECT_EQ(std::vector<std::uint8_t>(kPage - 100, 0xFF),
                  board.flash(4 * kPage + 100, kPage - 100))
            << file.name;
        EXPECT_EQ(outside, board.flash(0, kPage)) << file.name;
        EXPECT_EQ(outside, board.flash(5 * kPage, kPage)) << file.name;

        args[0] = "verify";
        const auto verified = run(args);
        EXPECT_EQ(0, verified.code) << file.name << ": " << verified.err;
    }
}

TEST_P(Subcommands, VerifyNamesTheFirstDifferenceAndBothBytes) {
    const auto bytes = pattern(2 * kPage);
    const auto path = files.write("image.bin", std::string(bytes.begin(), bytes.end()));
    board.chip().load_flash(kFlash, bytes);
    board.chip().load_flash(kFlash + 0x123, std::vector<std::uint8_t>{0x00, 0x00});
    const auto verified = run({"verify", path});
    EXPECT_EQ(5, verified.code);
    EXPECT_EQ("", verified.out);
    char expected[128];
    std::snprintf(expected, sizeof expected,
                  "verify failed at 0x08000123: flash holds 0x00, the file 0x%02X", bytes[0x123]);
    EXPECT_TRUE(contains(verified.err, expected)) << verified.err;
}

TEST_P(Subcommands, ReadWritesBinaryOrHexOfTheWholeFlashOrARange) {
    const auto bytes = pattern(kFlashBytes, 13);
    board.chip().load_flash(kFlash, bytes);
    const auto whole = run({"read", files.file("all.bin")});
    ASSERT_EQ(0, whole.code) << whole.err;
    EXPECT_EQ("read 65536 bytes from 0x08000000 into " + files.file("all.bin") + " (binary)\n",
              whole.out);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), readFile(files.file("all.bin")));

    const auto part =
        run({"read", files.file("part.hex"), "--address", "0x08000010", "--length", "300"});
    ASSERT_EQ(0, part.code) << part.err;
    const auto loaded = isp::loadImageFile(files.file("part.hex"), {});
    ASSERT_TRUE(std::holds_alternative<isp::LoadedImage>(loaded));
    const auto& image = std::get<isp::LoadedImage>(loaded);
    EXPECT_EQ(isp::ImageFormat::kIntelHex, image.format);
    EXPECT_EQ(0x08000010u, image.image.base);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 16, bytes.begin() + 316),
              image.image.bytes);
}

TEST_P(Subcommands, EraseBlankCheckAndGo) {
    board.chip().load_flash(kFlash, pattern(kFlashBytes));
    const struct {
        std::vector<std::string> args;
        int code;
        std::string out;  // expected start of standard output, or of the error line
    } steps[] = {
        {{"blank-check"}, 5, "not blank: 0x08000000 holds 0x03"},
        {{"erase", "--pages", "1-2"}, 0, "erased pages 1-2"},
        {{"erase", "--pages", "60-64"}, 2, "--pages 60-64: "},
        {{"blank-check"}, 5, "not blank: 0x08000000"},
        {{"erase", "--all"}, 0, "erased the whole flash"},
        {{"blank-check"}, 0, "blank: 64 KiB from 0x08000000"},
        {{"go", "0x08000000"}, 0, "started at 0x08000000"},
    };
    for (const auto& step : steps) {
        const auto result = run(step.args);
        EXPECT_EQ(step.code, result.code) << step.args[0] << ": " << result.err;
        EXPECT_TRUE(contains(step.code == 0 ? result.out : result.err, step.out))
            << step.args[0] << ": " << result.out << result.err;
        if (step.args[0] == "erase" && step.code == 0 && step.args[1] == "--pages") {
            EXPECT_EQ(std::vector<std::uint8_t>(2 * kPage, 0xFF), board.flash(kPage, 2 * kPage));
            EXPECT_EQ(pattern(kPage), board.flash(0, kPage));
        }
    }
    EXPECT_EQ(stm32sim::Mode::application, board.chip().mode());
}

INSTANTIATE_TEST_SUITE_P(Transports, Subcommands,
                         ::testing::Values(Transport::kPty, Transport::kRfc2217),
                         [](const auto& param) { return transportName(param.param); });

struct FamilyCase {
    const char* part;
    Transport transport;
};

class EveryFamily : public ::testing::TestWithParam<FamilyCase> {
  protected:
    CliRun run(std::vector<std::string> args) {
        args.insert(args.end(), {"--port", board.port(), "--retries", "1"});
        return runCli(args);
    }

    SimBoard board{GetParam().transport, {}, GetParam().part};
    TempDir files;
};

// Start offsets of the part's erase units, as the simulator lays them out.
std::vector<std::uint32_t> UnitStarts(const stm32sim::Product& product) {
    std::vector<std::uint32_t> starts{0};
    if (product.uniform_pages()) {
        for (std::uint32_t i = 1; i <= product.page_count(); i++) {
            starts.push_back(i * product.page_bytes);
        }
        return starts;
    }
    for (std::uint32_t bank = 0; bank < product.banks; bank++) {
        for (const auto& run : product.sectors) {
            for (std::uint32_t i = 0; i < run.count; i++) {
                starts.push_back(starts.back() + run.bytes);
            }
        }
    }
    return starts;
}

TEST_P(EveryFamily, InfoEraseFlashReadBlankCheckAndGo) {
    const stm32sim::Product product = board.chip().product();
    const std::uint32_t flashBytes = product.flash_bytes;
    const auto original = pattern(flashBytes, 7);
    board.chip().load_flash(kFlash, original);

    const auto info = run({"info", "--json", "--quiet"});
    ASSERT_EQ(0, info.code) << info.err;
    const auto object = nlohmann::json::parse(info.out);
    char pid[8];
    std::snprintf(pid, sizeof pid, "0x%03X", product.pid);
    EXPECT_EQ(pid, object["product_id"]);
    EXPECT_EQ(flashBytes, object["flash_size"]);
    // RAM is not readable from the chip: the table gives the largest part of
    // the ID (the F205RB has 64 of the F2's 128 KiB).
    const isp::DeviceInfo* row = isp::DeviceTable::builtin().find(product.pid);
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(row->ramSize, object["ram_size"]);
    // Erased flash reads 0x00 on the L0 and L1; erase and blank check agree.
    const std::uint8_t erasedByte = row->erasedByte;

    const auto units = UnitStarts(product);
    ASSERT_GT(units.size(), 4u);
    const auto erased = run({"erase", "--pages", "1-2"});
    ASSERT_EQ(0, erased.code) << erased.err;
    EXPECT_EQ(std::vector<std::uint8_t>(units[3] - units[1], erasedByte),
              board.flash(units[1], units[3] - units[1]));
    EXPECT_EQ(pattern(units[1], 7), board.flash(0, units[1]));
    EXPECT_EQ(std::vector<std::uint8_t>(original.begin() + units[3], original.begin() + units[4]),
              board.flash(units[3], units[4] - units[3]));

    const auto all = run({"erase", "--all"});
    ASSERT_EQ(0, all.code) << all.err;
    EXPECT_EQ(std::vector<std::uint8_t>(flashBytes, erasedByte), board.flash(0, flashBytes));
    const auto blank = run({"blank-check"});
    EXPECT_EQ(0, blank.code) << blank.err;

    const std::uint32_t imageBytes = std::min<std::uint32_t>(flashBytes, 64 * 1024);
    const auto image = pattern(imageBytes, 9);
    const auto path = files.write("image.bin", std::string(image.begin(), image.end()));
    const auto flashed = run({"flash", path});
    ASSERT_EQ(0, flashed.code) << flashed.err;
    EXPECT_TRUE(contains(flashed.out, "verified")) << flashed.out;
    EXPECT_EQ(image, board.flash(0, imageBytes));

    const auto read = run({"read", files.file("back.bin"), "--length", std::to_string(imageBytes)});
    ASSERT_EQ(0, read.code) << read.err;
    EXPECT_EQ(std::string(image.begin(), image.end()), readFile(files.file("back.bin")));

    const auto go = run({"go", "0x08000000"});
    EXPECT_EQ(0, go.code) << go.err;
    EXPECT_EQ(stm32sim::Mode::application, board.chip().mode());
}

std::vector<FamilyCase> EveryFamilyOnBothTransports() {
    std::vector<FamilyCase> cases;
    for (const char* part : {"f030r8", "f103c8", "f205rb", "f303re", "f407vg", "f746zg", "g071rb",
                             "g474re", "h743zi", "l053r8", "l152re", "l476rg", "wb55rg"}) {
        cases.push_back({part, Transport::kPty});
        cases.push_back({part, Transport::kRfc2217});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Parts, EveryFamily, ::testing::ValuesIn(EveryFamilyOnBothTransports()),
                         [](const auto& testCase) {
                             return std::string(testCase.param.part) + "_" +
                                    transportName(testCase.param.transport);
                         });

}  // namespace
}  // namespace cli_test
