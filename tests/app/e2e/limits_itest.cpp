// Page ranges and images are checked against the identified chip, with
// messages that give its real limits; a file without data loads nothing.
#include "ChipLoad.h"
#include "e2e_session.h"

namespace e2e {
namespace {

constexpr char kReadDone[] = "Flash读取完成！！！";

struct Part {
    const char* product;
    int lastPage;
    std::uint32_t pageBytes;
    const char* pageLimit;
};

void PrintTo(const Part& param, std::ostream* out) {
    *out << param.product;
}

class Limits : public Session, public ::testing::WithParamInterface<Part> {
  protected:
    void setPages(int first, int last) {
        ui().setValue(ops, TABOPS_STARTPAGE, first);
        ui().setValue(ops, TABOPS_ENDPAGE, last);
    }
};

TEST_P(Limits, PagesEndAtTheLastPageOfTheChip) {
    const auto& part = GetParam();
    start(part.product);
    connect();
    target().clear_commands();
    for (int button : {TABOPS_PAGEREAD, TABOPS_PAGEERASE}) {
        ui().clearPopups();
        setPages(part.lastPage, part.lastPage + 1);
        app->click(ops, button);
        EXPECT_EQ(std::vector<std::string>{std::string(kWarning) + "|" + part.pageLimit}, popups());
    }
    EXPECT_TRUE(target().commands().empty());
    ui().clearPopups();
    setPages(part.lastPage, part.lastPage);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone)) << status();
    EXPECT_TRUE(popups().empty());
    const auto commands = target().commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(0x08000000u + static_cast<std::uint32_t>(part.lastPage + 1) * part.pageBytes - 256,
              commands.back().address.value_or(0));
}

INSTANTIATE_TEST_SUITE_P(
    Parts, Limits,
    ::testing::Values(Part{"f103c8", 63, 1024, "片内FLASH只有64页，请重新选择起始页和终止页！！"},
                      Part{"f103rc", 127, 2048,
                           "片内FLASH只有128页，请重新选择起始页和终止页！！"}),
    [](const auto& param) { return std::string(param.param.product); });

TEST_F(Limits, ImageLargerThanTheFlashIsRefusedBeforeAnythingIsSent) {
    start("f103c6");
    connect();
    loadImage(Pattern(32 * 1024 + 4));
    target().clear_commands();
    app->click(ops, TABOPS_WRITE);
    EXPECT_EQ(std::vector<std::string>{std::string(kWarning) +
                                       "|程序（32772字节）超出芯片FLASH容量（32768字节，32KB），"
                                       "无法烧写！！！"},
              popups());
    EXPECT_TRUE(target().commands().empty());
    ui().clearPopups();
    const auto image = Pattern(32 * 1024, 2);
    loadImage(image);
    program();
    EXPECT_EQ(image, target().flash());
}

TEST_F(Limits, HexFileWithoutDataLoadsNothing) {
    start("f103c8");
    connect();
    for (const std::string& text : {std::string(""), std::string(":00000001FF\n")}) {
        SCOPED_TRACE(text);
        ui().clearPopups();
        const std::string path = files.write("empty.hex", text);
        ui().setValue(isp, TABISP_FILETYPE, 0);
        ui().queueFileAnswer(path);
        app->click(isp, TABISP_LOADFILE);
        EXPECT_NE("文件读取完成", status());
        for (const auto& popup : popups()) {
            EXPECT_EQ(std::string::npos, popup.find("读出成功")) << popup;
        }
        ui().clearPopups();
        app->click(ops, TABOPS_WRITE);
        EXPECT_EQ(std::vector<std::string>{"|请先加载hex文件！！！"}, popups());
    }
}

}  // namespace
}  // namespace e2e
