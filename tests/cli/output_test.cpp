// What the command line writes: Intel HEX files, progress text, the pages a
// flash touches, and failure lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <variant>

#include "failure_text.h"
#include "flash_layout.h"
#include "hex_writer.h"
#include "image_file.h"
#include "progress.h"

namespace cli_test {
namespace {

using namespace std::chrono_literals;

TEST(HexWriter, ReadsBackAsTheSameBytesAcrossA64KiBBoundary) {
    // 0x0800FFF8: the records must switch their upper address half mid-range.
    const std::uint32_t base = 0x0800FFF8;
    std::vector<std::uint8_t> bytes(40);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 9);
    const std::string text = isp::toIntelHex(base, bytes);
    EXPECT_EQ(":020000040800F2\n", text.substr(0, 16));
    EXPECT_NE(std::string::npos, text.find(":020000040801F1\n"));
    EXPECT_EQ(":00000001FF\n", text.substr(text.size() - 12));

    isp::ImageLoadOptions options;
    options.format = isp::ImageFormat::kIntelHex;
    const auto loaded = isp::loadImage(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), options);
    ASSERT_TRUE(std::holds_alternative<isp::LoadedImage>(loaded));
    const auto& image = std::get<isp::LoadedImage>(loaded).image;
    EXPECT_EQ(base, image.base);
    EXPECT_EQ(bytes, image.bytes);
}

TEST(ProgressText, BarNumbersRateAndTimeLeft) {
    EXPECT_EQ("write   [######------------------] 16384/65536 B  25%  8.0 KiB/s  0:06 left",
              cli::formatProgress("write", 16384, 65536, cli::kBytes, 2s, 24));
    // No rate from the first instant; none for pages; clamped past the end.
    EXPECT_EQ("read    0/100 B   0%", cli::formatProgress("read", 0, 100, cli::kBytes, 0s, 0));
    EXPECT_EQ("erase   3/4 pages  75%", cli::formatProgress("erase", 3, 4, "pages", 5s, 0));
    EXPECT_EQ("verify  10240/10240 B 100%  1.0 KiB/s",
              cli::formatProgress("verify", 20000, 10240, cli::kBytes, 10s, 0));
}

TEST(ProgressText, PlainLinesAtEachQuarterAndErrorsEvenWhenQuiet) {
    auto now = std::chrono::steady_clock::time_point{};
    for (const auto style : {cli::ProgressStyle::kLines, cli::ProgressStyle::kNone}) {
        std::FILE* file = std::tmpfile();
        {
            cli::Progress progress(file, style, {"/dev/ttyUSB0", "B"}, [&] { return now; });
            progress.begin(1, "write", 1000);
            for (std::uint64_t done = 100; done <= 1000; done += 100)
                progress.advance(1, done);
            progress.error(0, "error: it broke");
        }
        std::rewind(file);
        std::string text(4096, '\0');
        text.resize(std::fread(text.data(), 1, text.size(), file));
        std::fclose(file);
        if (style == cli::ProgressStyle::kNone) {
            EXPECT_EQ("/dev/ttyUSB0  error: it broke\n", text);
            continue;
        }
        EXPECT_EQ(
            "B             write   300/1000 B  30%\n"
            "B             write   500/1000 B  50%\n"
            "B             write   800/1000 B  80%\n"
            "B             write   1000/1000 B 100%\n"
            "/dev/ttyUSB0  error: it broke\n",
            text);
    }
}

TEST(ProgressText, LiveBarsRedrawInPlaceAtMostTenTimesASecond) {
    auto now = std::chrono::steady_clock::time_point{};
    std::FILE* file = std::tmpfile();
    {
        cli::Progress progress(file, cli::ProgressStyle::kBar, {"A", "B"}, [&] { return now; });
        progress.begin(0, "read", 100);
        progress.advance(0, 10);  // too soon after the last draw: not drawn
        now += 150ms;
        progress.advance(0, 50);
        progress.note(1, "done");
    }
    std::rewind(file);
    std::string text(4096, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    const std::string up = "\x1b[1A\r\x1b[2K";
    EXPECT_EQ("A  read    [------------------------] 0/100 B   0%\nB  ...\n" + up + up +
                  "A  read    [############------------] 50/100 B  50%\nB  ...\n" + up + up +
                  "B  done\n"
                  "A  read    [############------------] 50/100 B  50%\nB  ...\n"
                  // Closing draws the final state once more and leaves it.
                  + up + up + "A  read    [############------------] 50/100 B  50%\nB  ...\n",
              text);
}

TEST(FlashLayoutTest, PagesAnImageTouches) {
    // 16 KiB sectors then a 64 KiB one, as F4 parts have.
    const cli::FlashLayout layout(0x08000000, {16384, 16384, 16384, 16384, 65536});
    using Units = std::vector<std::uint16_t>;
    EXPECT_EQ(Units({0}), layout.unitsTouching(0x08000000, 0x08000001));
    EXPECT_EQ(Units({0, 1}), layout.unitsTouching(0x08003FFF, 0x08004001));
    EXPECT_EQ(Units({3, 4}), layout.unitsTouching(0x0800C000, 0x08020000));
    EXPECT_EQ(Units({}), layout.unitsTouching(0x08004000, 0x08004000));
    EXPECT_FALSE(layout.unitsTouching(0x07FFFFFF, 0x08000010));
    EXPECT_FALSE(layout.unitsTouching(0x0801FFF0, 0x08020001));
    EXPECT_EQ(0x08010000u, layout.unitAddress(4));
    EXPECT_EQ(0x20000u, layout.size());
}

TEST(FailureTextTest, SyncFailureSaysWhatWasTriedAndTheFixes) {
    isp::Failure failure;
    failure.status = isp::Status::kTimeout;
    isp::Wiring wiring;
    const auto silent = cli::describeSyncFailure(failure, wiring, 115200, 4);
    EXPECT_EQ(cli::ExitCode::kTargetFailed, silent.code);
    for (const char* part :
         {"after 4 tries", "reset on DTR for 100 ms, BOOT0 on RTS", "115200 baud 8E1",
          "--invert-reset, --invert-boot0", "--reset rts --boot0 dtr", "--reset none --boot0 none",
          "--baud such as 57600"}) {
        EXPECT_NE(std::string::npos, silent.line.find(part)) << part << " in " << silent.line;
    }
    failure.status = isp::Status::kBadReply;
    wiring.reset = wiring.boot0 = isp::ControlLine::kNone;
    const auto chatty = cli::describeSyncFailure(failure, wiring, 9600, 1);
    EXPECT_NE(std::string::npos, chatty.line.find("after 1 try (no reset line, no BOOT0 line"));
    EXPECT_NE(std::string::npos, chatty.line.find("likely its own program"));
    EXPECT_EQ(std::string::npos, chatty.line.find("--invert"));
    EXPECT_EQ(std::string::npos, chatty.line.find("slower"));
}

}  // namespace
}  // namespace cli_test
