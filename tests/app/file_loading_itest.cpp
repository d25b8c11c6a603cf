#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ChipLoad.h"
#include "app_harness.h"
#include "panel_handles.h"
#include "program_image.h"
#include "session.h"
#include "temp_files.h"

namespace {

using apptest::AppHarness;
using apptest::HexRecord;
using apptest::TempDir;
using namespace std::chrono_literals;

const std::string kEof = ":00000001FF";

struct Loaded {
    std::string image;  // binLength bytes of f_temp
    int length = 0;
    int writeCount = 0;
};

std::string Pattern(int length, int seed) {
    std::string bytes;
    for (int i = 0; i < length; i++) {
        bytes += static_cast<char>((i * 31 + seed) & 0xFF);
    }
    return bytes;
}

class FileLoading : public ::testing::Test {
  protected:
    TempDir dir;
    AppHarness app;

    void load(const std::string& path, int fileType = 0) {
        app.ui().setValue(app.panels().isp, TABISP_FILETYPE, fileType);
        app.ui().queueFileAnswer(path);
        app.click(app.panels().isp, TABISP_LOADFILE);
    }
    void loadText(const std::string& path) {
        app.ui().queueFileAnswer(path);
        app.click(app.panels().term, TABTERM_LOADTXT);
    }
    Loaded loaded() {
        return app.onUi([] {
            Loaded result;
            result.length = binLength;
            result.writeCount = sub_write_byte_number;
            if (f_temp != nullptr) {
                result.image.assign(reinterpret_cast<const char*>(f_temp),
                                    static_cast<std::size_t>(binLength));
            }
            return result;
        });
    }
    std::string fileSize() { return app.ui().text(app.panels().isp, TABISP_FILESIZE); }
    std::vector<std::string> successPopup(const std::string& path) {
        return {"系统提示|HEX数据文件" + path + "读出成功！！！"};
    }
    bool logHas(const std::string& line) {
        for (const auto& entry : app.log()) {
            if (entry == line) {
                return true;
            }
        }
        return false;
    }
};

TEST_F(FileLoading, OneDataRecordLoadsItsSixteenBytes) {
    const std::string data = Pattern(16, 1);
    const auto path = dir.write("one.hex", HexRecord(0, 0, data) + "\r\n" + kEof + "\r\n");
    const auto beeps = app.ui().beepCount();
    load(path);
    const auto result = loaded();
    EXPECT_EQ(data, result.image);
    EXPECT_EQ(16, result.writeCount);
    EXPECT_EQ("0KB", fileSize());
    EXPECT_EQ(path, app.ui().text(app.panels().isp, TABISP_HEXPATH));
    EXPECT_EQ("文件读取完成", app.status());
    EXPECT_EQ((std::vector<std::string>{"文件读取中。。。", "开始转换HEX文件至BIN文件：",
                                        "转换完毕！！", "文件读取完成"}),
              app.log());
    EXPECT_EQ(successPopup(path), app.popupTexts());
    EXPECT_EQ(beeps + 1, app.ui().beepCount());
}

TEST_F(FileLoading, RecordsLandAtTheirAddressesAndGapsAreErased) {
    const std::string first = Pattern(16, 2);
    const std::string second = Pattern(16, 3);
    std::string text = HexRecord(4, 0, std::string("\x08\x00", 2)) + "\n";
    text += HexRecord(0, 0x1000, first) + "\n";
    text += HexRecord(5, 0, std::string("\x08\x00\x01\x01", 4)) + "\n";
    text += HexRecord(4, 0, std::string("\x08\x01", 2)) + "\n";
    text += HexRecord(0, 0x0000, second) + "\n" + kEof + "\n";
    // Lower-case digits are read as well.
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    load(dir.write("two.hex", text));
    const auto result = loaded();
    // From 0x08001000 to 0x08010010: the gap between the records is erased.
    EXPECT_EQ(first + std::string(0x10000 - 0x1000 - 16, '\xFF') + second, result.image);
    EXPECT_EQ(0x10000 - 0x1000 + 16, result.writeCount);
    EXPECT_EQ(0x08001000, app.onUi([] { return imageBaseAddress; }));
    EXPECT_EQ("60KB", fileSize());
    EXPECT_EQ("文件读取完成", app.status());
}

TEST_F(FileLoading, AFileLinkedAtZeroCountsFromTheFlashBase) {
    const std::string data = Pattern(40, 4);
    load(dir.write("zero.hex", HexRecord(0, 0x0100, data) + "\n" + kEof + "\n"));
    EXPECT_EQ(data, loaded().image);
    EXPECT_EQ(0x08000100, app.onUi([] { return imageBaseAddress; }));
    // A raw binary always starts at the flash base.
    load(dir.write("raw.bin", data), 1);
    EXPECT_EQ(0x08000000, app.onUi([] { return imageBaseAddress; }));
}

TEST_F(FileLoading, RefusalsNameTheLineAndLoadNoProgram) {
    struct Case {
        const char* name;
        std::string text;
        std::string message;
    };
    const std::string upper = HexRecord(4, 0, std::string("\x08\x00", 2)) + "\n";
    const Case cases[] = {
        {"overlap",
         upper + HexRecord(0, 0x10, Pattern(16, 1)) + "\n" + HexRecord(0, 0x18, Pattern(4, 1)) +
             "\n" + kEof,
         "HEX文件第3行数据地址0x08000018与前面的数据重叠，退出转换！！"},
        {"past the flash",
         upper + HexRecord(0, 0, Pattern(16, 1)) + "\n" +
             HexRecord(4, 0, std::string("\x08\x02", 2)) + "\n" + HexRecord(0, 0, "\x01") + "\n" +
             kEof,
         "HEX文件第4行数据地址0x08020000超出FLASH范围（0x08000000～0x0801FFFF），退出转换！！"},
        {"below the flash",
         HexRecord(4, 0, std::string("\x07\xFF", 2)) + "\n" + HexRecord(0, 0xFFF0, "\x01") + "\n" +
             kEof,
         "HEX文件第2行数据地址0x07FFFFF0超出FLASH范围（0x08000000～0x0801FFFF），退出转换！！"},
        {"no data", upper + kEof, "HEX文件中没有数据记录，退出转换！！"},
        {"unknown record type", HexRecord(6, 0, "") + "\n" + kEof,
         "HEX文件第1行记录格式错误，退出转换！！"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        load(dir.write("good.hex", HexRecord(0, 0, Pattern(16, 8)) + "\n" + kEof));
        ASSERT_EQ(16, loaded().writeCount);
        app.ui().clearPopups();
        load(dir.write("refused.hex", c.text));
        EXPECT_EQ(c.message, app.status());
        EXPECT_TRUE(logHas(c.message));
        EXPECT_EQ(0, loaded().writeCount);
        EXPECT_TRUE(app.popupTexts().empty());
    }
}

TEST_F(FileLoading, LineFeedAndCarriageReturnLineFeedFilesLoadAlike) {
    const std::string a = Pattern(32, 4);
    const std::string b = Pattern(7, 5);
    const std::string records[] = {HexRecord(0, 0, a), HexRecord(0, 32, b), kEof};
    std::string lf, crlf;
    for (const auto& record : records) {
        lf += record + "\n";
        crlf += record + "\r\n";
    }
    load(dir.write("lf.hex", lf));
    EXPECT_EQ(a + b, loaded().image);
    load(dir.write("crlf.hex", crlf));
    EXPECT_EQ(a + b, loaded().image);
    EXPECT_EQ(39, loaded().writeCount);
}

TEST_F(FileLoading, ABlankLineEndsTheConversionWithTheRecordsBeforeIt) {
    const std::string a = Pattern(16, 6);
    const auto path = dir.write(
        "blank.hex", HexRecord(0, 0, a) + "\n\n" + HexRecord(0, 16, Pattern(16, 7)) + "\n" + kEof);
    load(path);
    EXPECT_EQ(a, loaded().image);
    EXPECT_EQ(16, loaded().writeCount);
    EXPECT_FALSE(logHas("转换完毕！！"));
    EXPECT_EQ(successPopup(path), app.popupTexts());
}

TEST_F(FileLoading, ChecksumErrorNamesTheLineAndLoadsNoProgram) {
    load(dir.write("good.hex", HexRecord(0, 0, Pattern(16, 8)) + "\n" + kEof));
    ASSERT_EQ(16, loaded().writeCount);
    app.ui().clearPopups();

    std::string bad = HexRecord(0, 16, Pattern(16, 9));
    bad[bad.size() - 1] = bad.back() == '0' ? '1' : '0';
    load(dir.write("bad2.hex", HexRecord(0, 0, Pattern(16, 9)) + "\n" + bad + "\n" + kEof));
    EXPECT_TRUE(logHas("HEX文件第2行校验和错误，退出转换！！"));
    EXPECT_EQ(0, loaded().writeCount);
    EXPECT_TRUE(app.popupTexts().empty());

    std::string badFirst = HexRecord(0, 0, Pattern(4, 1));
    badFirst[3] = badFirst[3] == '0' ? '1' : '0';
    load(dir.write("bad1.hex", badFirst + "\r\n" + kEof));
    EXPECT_TRUE(logHas("HEX文件第1行校验和错误，退出转换！！"));
    EXPECT_EQ(0, loaded().writeCount);
}

TEST_F(FileLoading, LineWithoutColonIsAFormatError) {
    load(dir.write("nocolon.hex", HexRecord(0, 0, Pattern(16, 1)).substr(1) + "X\n" + kEof));
    EXPECT_EQ("HEX文件数据格式错误，无法定位!!!", app.status());
    EXPECT_EQ(0, loaded().writeCount);
    EXPECT_TRUE(app.popupTexts().empty());
}

TEST_F(FileLoading, RecordShorterOrLongerThanItsCountIsRefusedNotReadPast) {
    // The count says 0xFF data bytes, the line holds two.
    const std::string lying = ":FF000000AABB57";
    load(dir.write("short.hex", lying + "\n" + kEof));
    EXPECT_EQ("HEX文件第1行记录格式错误，退出转换！！", app.status());
    EXPECT_TRUE(logHas("HEX文件第1行记录格式错误，退出转换！！"));
    EXPECT_EQ(0, loaded().writeCount);
    load(dir.write("digits.hex", ":0100000G0FE0\n" + kEof));
    EXPECT_EQ("HEX文件第1行记录格式错误，退出转换！！", app.status());
}

TEST_F(FileLoading, LineLongerThanTheLineBufferIsRefused) {
    // 128 data bytes make a 267-character line.
    const auto path =
        dir.write("long.hex", HexRecord(0, 0, Pattern(16, 1)) + "\n" +
                                  HexRecord(0, 16, Pattern(128, 2)) + "\n" + kEof + "\n");
    load(path);
    EXPECT_EQ("HEX文件第2行过长（超过255个字符），退出转换！！", app.status());
    EXPECT_TRUE(logHas("HEX文件第2行过长（超过255个字符），退出转换！！"));
    EXPECT_EQ(0, loaded().writeCount);
    EXPECT_TRUE(app.popupTexts().empty());
    // 122 data bytes still fit (255 characters).
    const std::string widest = Pattern(122, 3);
    load(dir.write("widest.hex", HexRecord(0, 0, widest) + "\r\n" + kEof));
    EXPECT_EQ(widest, loaded().image);
}

TEST_F(FileLoading, MoreDataThanTheImageHoldsIsRefused) {
    std::string text;
    const std::string block = Pattern(64, 5);
    for (int i = 0; i < IMAGE_SIZE / 64; i++) {
        if (i % 1024 == 0) {
            text += HexRecord(4, 0, std::string{'\x08', static_cast<char>(i / 1024)}) + "\n";
        }
        text += HexRecord(0, (i * 64) & 0xFFFF, block) + "\n";
    }
    load(dir.write("full.hex", text + kEof + "\n"));
    EXPECT_EQ(IMAGE_SIZE, loaded().writeCount);
    EXPECT_EQ("128KB", fileSize());

    text += HexRecord(4, 0, std::string{'\x08', '\x02'}) + "\n" + HexRecord(0, 0, "\x01") + "\n";
    app.ui().clearPopups();
    load(dir.write("over.hex", text + kEof + "\n"));
    EXPECT_EQ(
        "HEX文件第2052行数据地址0x08020000超出FLASH范围（0x08000000～0x0801FFFF），退出转换！！",
        app.status());
    EXPECT_EQ(0, loaded().writeCount);
    EXPECT_TRUE(app.popupTexts().empty());
}

TEST_F(FileLoading, RawBinaryLoadsTheWholeFileUpToTheImageSize) {
    const std::string bytes = Pattern(1000, 9);
    load(dir.write("small.bin", bytes), 1);
    EXPECT_EQ(bytes, loaded().image);
    EXPECT_EQ(1000, loaded().writeCount);
    EXPECT_EQ("0KB", fileSize());
    const std::string larger = Pattern(5 * 1024 + 3, 1);
    load(dir.write("larger.bin", larger), 1);
    EXPECT_EQ(larger, loaded().image);
    EXPECT_EQ("5KB", fileSize());

    app.ui().clearPopups();
    load(dir.write("huge.bin", Pattern(IMAGE_SIZE + 1, 2)), 1);
    EXPECT_EQ("文件大小超过128KB（131072字节），无法加载！！！", app.status());
    EXPECT_TRUE(logHas("文件大小超过128KB（131072字节），无法加载！！！"));
    EXPECT_EQ(0, loaded().writeCount);
    EXPECT_TRUE(app.popupTexts().empty());
}

TEST_F(FileLoading, UnreadableOrUnchosenFilesChangeNothing) {
    load(dir.write("keep.hex", HexRecord(0, 0, "abc") + "\n" + kEof));
    const auto before = loaded();
    app.ui().clearPopups();
    const auto beeps = app.ui().beepCount();
    const std::string missing = (dir.path() / "missing.hex").string();
    load(missing);
    EXPECT_EQ(std::vector<std::string>{"系统提示|HEX数据文件" + missing + "不能打开！！！"},
              app.popupTexts());
    EXPECT_EQ(beeps + 1, app.ui().beepCount());
    load("");  // the dialog cancelled
    EXPECT_EQ(before.image, loaded().image);
    EXPECT_EQ(before.writeCount, loaded().writeCount);
}

TEST_F(FileLoading, TextFileGoesToTheSendBoxNeverIntoTheImage) {
    load(dir.write("prog.hex", HexRecord(0, 0x4000, Pattern(32, 1)) + "\n" + kEof));
    const auto program = loaded();
    ASSERT_EQ(32, program.writeCount);
    app.ui().clearPopups();
    const auto path = dir.write("notes.txt", "AT\r\nATI\r\n");
    const auto beeps = app.ui().beepCount();
    loadText(path);
    EXPECT_EQ(program.image, loaded().image);
    EXPECT_EQ(32, loaded().writeCount);
    EXPECT_EQ("AT\r\nATI\r\n", app.ui().text(app.panels().term, TABTERM_SEND));
    EXPECT_EQ(0x08004000, app.onUi([] { return imageBaseAddress; }));
    EXPECT_EQ(path, app.ui().text(app.panels().term, TABTERM_TXTPATH));
    EXPECT_TRUE(app.popupTexts().empty());
    EXPECT_EQ(beeps + 1, app.ui().beepCount());

    // Refused files name themselves and leave the send text as it was.
    const std::string missing = (dir.path() / "gone.txt").string();
    const std::string big = dir.write("big.txt", std::string(4096, 'x'));
    const std::string binary = dir.write("nul.txt", std::string("a\0b", 3));
    for (const auto& refused : {missing, big, binary}) {
        loadText(refused);
    }
    EXPECT_EQ((std::vector<std::string>{
                  "系统提示|TXT文件" + missing + "不能打开！！！",
                  "系统提示|TXT文件" + big + "超过发送缓冲区（4095字节），未加载！！！",
                  "系统提示|TXT文件" + binary + "含有空字符，不是文本文件，未加载！！！"}),
              app.popupTexts());
    EXPECT_EQ("AT\r\nATI\r\n", app.ui().text(app.panels().term, TABTERM_SEND));
    EXPECT_EQ(program.image, loaded().image);
}

// The dialog offers the files of the chosen type and opens where the last
// file was chosen.
TEST_F(FileLoading, DialogFollowsTheFileTypeAndTheLastFolder) {
    std::filesystem::create_directory(dir.path() / "sub");
    const std::string hex =
        dir.write("sub/a.hex", HexRecord(0, 0, "\x01\x02") + "\n" + kEof + "\n");
    const struct {
        int fileType;
        std::string path, spec, title, directory;
    } cases[] = {
        {0, hex, "*.hex *.ihx", "选择HEX文件", ""},
        {1, dir.write("b.bin", "xyz"), "*.bin", "选择BIN文件（二进制）",
         (dir.path() / "sub").string()},
        {0, hex, "*.hex *.ihx", "选择HEX文件", dir.path().string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        app.ui().clearPopups();
        load(c.path, c.fileType);
        const auto popups = app.ui().popups();
        ASSERT_FALSE(popups.empty());
        EXPECT_EQ(rte::Headless::PopupRecord::Kind::File, popups.front().kind);
        EXPECT_EQ(c.spec, popups.front().message);
        EXPECT_EQ(c.title, popups.front().title);
        EXPECT_EQ(c.directory, popups.front().directory);
    }
}

}  // namespace
