// Files by handle, the line reader, Fmt and the other text helpers.
#include <cstring>
#include <string>

#include "rte_test_support.h"

namespace {

std::vector<std::pair<int, std::string>> ReadAllLines(const std::string& contents, int maximum) {
    rte_test::TempFile file(contents, "lines.txt");
    const int h =
        RTE_OpenFile(file.path().c_str(), RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, RTE_FILE_BINARY);
    EXPECT_GT(h, 0);
    std::vector<std::pair<int, std::string>> lines;
    std::vector<char> buffer(static_cast<std::size_t>(maximum) + 1 + 8, 'z');
    for (int guard = 0; guard < 100; ++guard) {
        const int n = ReadLine(h, buffer.data(), maximum);
        EXPECT_EQ(buffer[static_cast<std::size_t>(maximum) + 1], 'z') << "wrote past maximum + 1";
        lines.emplace_back(n, n >= 0 ? std::string(buffer.data()) : std::string());
        if (n < 0) {
            break;
        }
    }
    EXPECT_EQ(RTE_CloseFile(h), 0);
    return lines;
}

using Lines = std::vector<std::pair<int, std::string>>;

TEST(ReadLine, EndsLinesAtLfCrlfOrCrAndReportsEndOfFile) {
    EXPECT_EQ(ReadAllLines(":10AB\r\n:00FF\r\n", 255),
              (Lines{{5, ":10AB"}, {5, ":00FF"}, {-2, ""}}));
    EXPECT_EQ(ReadAllLines("a\nbb\n", 255), (Lines{{1, "a"}, {2, "bb"}, {-2, ""}}));
    EXPECT_EQ(ReadAllLines("a\rb\r\nc", 255), (Lines{{1, "a"}, {1, "b"}, {1, "c"}, {-2, ""}}));
    EXPECT_EQ(ReadAllLines("x\n\r\n\ny", 255),
              (Lines{{1, "x"}, {0, ""}, {0, ""}, {1, "y"}, {-2, ""}}));
    EXPECT_EQ(ReadAllLines("", 255), (Lines{{-2, ""}}));
}

TEST(ReadLine, ALongLineIsCutToTheMaximumAndItsFullLengthReported) {
    EXPECT_EQ(ReadAllLines("0123456789\r\nnext\n", 4),
              (Lines{{10, "0123"}, {4, "next"}, {-2, ""}}));
    EXPECT_EQ(ReadAllLines("abc\n", 0), (Lines{{3, ""}, {-2, ""}}));
}

TEST(ReadLine, BadHandlesAndANegativeMaximumAreRefused) {
    char buffer[8];
    EXPECT_EQ(ReadLine(987654, buffer, 7), -1);
    rte_test::TempFile file("abc\n");
    const int h = RTE_OpenFile(file.path().c_str(), RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, 0);
    EXPECT_EQ(ReadLine(h, buffer, -1), -1) << "an unlimited read cannot be made safe";
    EXPECT_EQ(RTE_CloseFile(h), 0);
    EXPECT_EQ(RTE_CloseFile(h), -1);
}

TEST(Files, RawReadsAndFileInfo) {
    const std::string bytes("\x00\x01\xff\r\n\x7f", 6);
    rte_test::TempFile file(bytes, "raw.bin");
    long size = -1;
    EXPECT_EQ(GetFileInfo(file.path().c_str(), &size), 1);
    EXPECT_EQ(size, 6);
    const int h = RTE_OpenFile(file.path().c_str(), RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, 0);
    ASSERT_GT(h, 0);
    char buffer[16];
    EXPECT_EQ(RTE_ReadFile(h, buffer, 4), 4);
    EXPECT_EQ(RTE_ReadFile(h, buffer + 4, 10), 2);
    EXPECT_EQ(std::string(buffer, 6), bytes) << "bytes were translated";
    EXPECT_EQ(RTE_ReadFile(h, buffer, 10), 0);
    EXPECT_EQ(RTE_CloseFile(h), 0);
    EXPECT_EQ(RTE_ReadFile(h, buffer, 1), -1);

    EXPECT_EQ(GetFileInfo("/nonexistent/file", &size), 0);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(RTE_OpenFile("/nonexistent/file", RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, 0), -1);
    EXPECT_EQ(RTE_OpenFile("/tmp", RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, 0), -1);
    EXPECT_EQ(RTE_OpenFile(file.path().c_str(), 9, RTE_FILE_OPEN_AS_IS, 0), -1);
}

TEST(Fmt, ConcatenatesAndFormatsTheWaysTheProgramUses) {
    char message[512];
    EXPECT_EQ(Fmt(message, "%s<%s%s%s", "HEX数据文件", "/tmp/a.hex", "不能打开！！！"),
              static_cast<int>(std::strlen("HEX数据文件/tmp/a.hex不能打开！！！")));
    EXPECT_STREQ(message, "HEX数据文件/tmp/a.hex不能打开！！！");
    char size[16];
    Fmt(size, "%s<%i%s", 1000 / 1024, "KB");
    EXPECT_STREQ(size, "0KB");
    Fmt(message, "%s<%s%d%s", "HEX文件第", 12, "行校验和错误，退出转换！！");
    EXPECT_STREQ(message, "HEX文件第12行校验和错误，退出转换！！");
    Fmt(size, "%s<%i", -64);
    EXPECT_STREQ(size, "-64");
    Fmt(size, "%s<%04X:%%%.2f", 0x1fu, 2.5);
    EXPECT_STREQ(size, "001F:%2.50");
}

TEST(Fmt, NeverOverrunsAndRejectsUnknownFormats) {
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(FmtN(small, 4, "%s<%s%s", "abc", "def"), RTE_ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(small[4], 'x');
    EXPECT_EQ(Fmt(small, "%i<%s", "x"), RTE_ERR_BAD_ARGUMENT);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(Fmt(small, "%s<%q", 1), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(Fmt(small, "%s<%s", static_cast<const char*>(nullptr)), 0);
}

TEST(Text, UpperCaseTouchesOnlyAsciiLettersAndTimeStrIsAClock) {
    char line[] = ":10ab0000ef 中文 z";
    StringUpperCase(line);
    EXPECT_STREQ(line, ":10AB0000EF 中文 Z");
    const std::string now = TimeStr();
    ASSERT_EQ(now.size(), 8u);
    EXPECT_EQ(now[2], ':');
    EXPECT_EQ(now[5], ':');
    EXPECT_LT(std::stoi(now.substr(0, 2)), 24);
    EXPECT_LT(std::stoi(now.substr(3, 2)), 60);
    EXPECT_EQ(RTE_inp(0x3FE), 0);
}

}  // namespace
