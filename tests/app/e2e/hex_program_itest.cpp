// A HEX file whose data does not start at the flash base, with a gap, written
// by an independent tool: programming puts every byte at its address and
// leaves the rest of the flash erased.
#include <algorithm>
#include <cstdlib>

#include "ChipLoad.h"
#include "e2e_session.h"

namespace e2e {
namespace {

class HexProgram : public Session {};

TEST_F(HexProgram, DataLandsAtTheAddressesTheFileGives) {
    if (std::system("srec_cat --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    }
    start("f103c8");
    connect();
    const auto low = Pattern(700, 3);
    const auto high = Pattern(300, 4);
    const std::string lowPath = files.write("low.bin", std::string(low.begin(), low.end()));
    const std::string highPath = files.write("high.bin", std::string(high.begin(), high.end()));
    const std::string hex = files.write("app.hex", "");
    const std::string command = "srec_cat '" + lowPath + "' -binary -offset 0x08004000 '" +
                                highPath + "' -binary -offset 0x08004800 -o '" + hex + "' -intel";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    ui().setValue(isp, TABISP_FILETYPE, 0);
    ui().queueFileAnswer(hex);
    app->click(isp, TABISP_LOADFILE);
    ASSERT_EQ("文件读取完成", status());
    EXPECT_EQ("2KB", ui().text(isp, TABISP_FILESIZE));  // 0x08004000 to 0x08004B2C
    ui().clearPopups();
    target().clear_commands();
    program();

    const auto flash = target().flash();
    const auto at = [&](std::size_t offset) { return flash.begin() + static_cast<long>(offset); };
    EXPECT_TRUE(std::all_of(flash.begin(), at(0x4000), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(low.begin(), low.end(), at(0x4000)));
    EXPECT_TRUE(
        std::all_of(at(0x4000 + 700), at(0x4800), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(high.begin(), high.end(), at(0x4800)));
    EXPECT_TRUE(
        std::all_of(at(0x4800 + 300), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    const auto commands = target().commands();
    const auto firstWrite = std::find_if(commands.begin(), commands.end(),
                                         [](const auto& c) { return c.command == 0x31; });
    ASSERT_NE(commands.end(), firstWrite);
    EXPECT_EQ(0x08004000u, firstWrite->address.value_or(0));
}

}  // namespace
}  // namespace e2e
