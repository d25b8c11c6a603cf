// HEX files written by tools nobody here wrote: srecord's srec_cat and
// python3-intelhex, with extended linear address records, several record
// lengths, and both line ends. The image holds each byte at its address.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "ChipLoad.h"
#include "app_harness.h"
#include "program_image.h"
#include "session.h"
#include "temp_files.h"

namespace {

using apptest::AppHarness;
using apptest::TempDir;

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

bool HaveTool(const std::string& check) {
    return std::system((check + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Two segments: the first crosses a 64 KiB boundary (so the file needs an
// extended linear address record in the middle of it), the second sits
// apart from it. Each tool writes its records in address order.
struct Segments {
    std::string low = RandomBytes(3000, 11);
    std::string high = RandomBytes(517, 12);
    // From 0x0800FF00: the low piece, erased bytes up to 0x08012000, the high one.
    std::string image() const {
        return low + std::string(0x08012000 - 0x0800FF00 - low.size(), '\xFF') + high;
    }
};

class HexTools : public ::testing::Test {
  protected:
    TempDir dir;
    Segments segments;
    std::string lowPath = dir.write("low.bin", segments.low);
    std::string highPath = dir.write("high.bin", segments.high);
    AppHarness app;

    std::string loadImage(const std::string& hexPath) {
        app.ui().setValue(app.panels().isp, TABISP_FILETYPE, 0);
        app.ui().queueFileAnswer(hexPath);
        app.click(app.panels().isp, TABISP_LOADFILE);
        return app.onUi([] {
            if (f_temp == nullptr || sub_write_byte_number != binLength) {
                return std::string("<no program loaded>");
            }
            return std::string(reinterpret_cast<const char*>(f_temp),
                               static_cast<std::size_t>(binLength));
        });
    }
};

TEST_F(HexTools, SrecCatFilesLoadWithEveryByteAtItsAddress) {
    if (!HaveTool("srec_cat --version")) {
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    }
    for (int blockSize : {16, 32, 64}) {
        for (const char* lineEnd : {"", "-CRLF"}) {
            SCOPED_TRACE(std::to_string(blockSize) + lineEnd);
            const std::string hex =
                (dir.path() / ("srec" + std::to_string(blockSize) + lineEnd + ".hex")).string();
            const std::string command = "srec_cat '" + lowPath + "' -binary -offset 0x0800FF00 '" +
                                        highPath + "' -binary -offset 0x08012000 -o '" + hex +
                                        "' -intel -Output_Block_Size=" + std::to_string(blockSize) +
                                        " " + lineEnd;
            ASSERT_EQ(0, std::system(command.c_str())) << command;
            const std::string text = ReadFile(hex);
            ASSERT_NE(std::string::npos, text.find(":02000004080"));
            ASSERT_EQ(*lineEnd != '\0', text.find("\r\n") != std::string::npos);
            EXPECT_EQ(segments.image(), loadImage(hex));
        }
    }
}

TEST_F(HexTools, IntelhexFilesLoadWithEveryByteAtItsAddress) {
    if (!HaveTool("/usr/bin/python3 -c 'import intelhex'")) {
        GTEST_SKIP() << "python3-intelhex is not installed";
    }
    for (int byteCount : {8, 24, 32}) {
        for (const char* eol : {"native", "CRLF"}) {
            SCOPED_TRACE(std::to_string(byteCount) + eol);
            const std::string hex =
                (dir.path() / ("py" + std::to_string(byteCount) + eol + ".hex")).string();
            const std::string script =
                "from intelhex import IntelHex\n"
                "ih = IntelHex()\n"
                "ih.frombytes(open('" +
                lowPath +
                "', 'rb').read(), offset=0x0800FF00)\n"
                "ih.frombytes(open('" +
                highPath +
                "', 'rb').read(), offset=0x08012000)\n"
                "ih.write_hex_file('" +
                hex + "', byte_count=" + std::to_string(byteCount) + ", eolstyle='" + eol + "')\n";
            const std::string scriptPath = dir.write("make.py", script);
            ASSERT_EQ(0, std::system(("/usr/bin/python3 '" + scriptPath + "'").c_str()));
            const std::string text = ReadFile(hex);
            ASSERT_NE(std::string::npos, text.find(":02000004080"));
            ASSERT_EQ(std::string(eol) == "CRLF", text.find("\r\n") != std::string::npos);
            EXPECT_EQ(segments.image(), loadImage(hex));
        }
    }
}

}  // namespace
