// Files written by tools nobody here wrote (srec_cat, python3-intelhex, the
// cross compiler), read through the one loader the program has.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "hex_text.h"
#include "image_file.h"

namespace isp_test {
namespace {

using isp::Bytes;
using isp::ImageFormat;
namespace fs = std::filesystem;

bool haveTool(const std::string& check) {
    return std::system((check + " >/dev/null 2>&1").c_str()) == 0;
}

Bytes randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

class ImageFiles : public ::testing::Test {
  protected:
    fs::path dir = fs::temp_directory_path() / ("isp_image_" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const Bytes& bytes) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    std::string write(const std::string& name, const std::string& text) {
        return write(name, Bytes(text.begin(), text.end()));
    }
    std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    static isp::LoadedImage load(const std::string& path, isp::ImageLoadOptions options = {}) {
        auto loaded = isp::loadImageFile(path, options);
        if (const auto* error = std::get_if<isp::ImageError>(&loaded)) {
            ADD_FAILURE() << path << ": error kind " << static_cast<int>(error->kind) << " line "
                          << error->line << " " << error->detail;
            return {};
        }
        return std::get<isp::LoadedImage>(loaded);
    }
};

// Each tool writes the same two pieces: 3000 bytes crossing a 64 KiB boundary
// (so the file needs a type 04 record inside them) and 517 bytes apart from
// them; the image has them at their addresses with the gap erased.
TEST_F(ImageFiles, ToolWrittenHexFilesPlaceEveryByteAtItsAddress) {
    const Bytes low = randomBytes(3000, 11);
    const Bytes high = randomBytes(517, 12);
    const std::string lowPath = write("low.bin", low);
    const std::string highPath = write("high.bin", high);
    Bytes expected = low;
    expected.resize(0x08012000 - 0x0800FF00, 0xFF);
    expected.insert(expected.end(), high.begin(), high.end());

    std::vector<std::pair<std::string, std::string>> makers;
    if (haveTool("srec_cat --version")) {
        makers.emplace_back("srec.hex", "srec_cat '" + lowPath + "' -binary -offset 0x0800FF00 '" +
                                            highPath + "' -binary -offset 0x08012000 -o '" +
                                            (dir / "srec.hex").string() +
                                            "' -intel -Output_Block_Size=32 -CRLF");
    }
    if (haveTool("/usr/bin/python3 -c 'import intelhex'")) {
        const std::string script = write("make.py",
                                         "from intelhex import IntelHex\nih = IntelHex()\n"
                                         "ih.frombytes(open('" +
                                             lowPath +
                                             "', 'rb').read(), offset=0x0800FF00)\n"
                                             "ih.frombytes(open('" +
                                             highPath +
                                             "', 'rb').read(), offset=0x08012000)\n"
                                             "ih.write_hex_file('" +
                                             (dir / "py.hex").string() + "', byte_count=24)\n");
        makers.emplace_back("py.hex", "/usr/bin/python3 '" + script + "'");
    }
    if (makers.empty()) {
        GTEST_SKIP() << "neither srec_cat (srecord) nor python3-intelhex is installed";
    }
    for (const auto& [name, command] : makers) {
        SCOPED_TRACE(name);
        ASSERT_EQ(0, std::system(command.c_str())) << command;
        ASSERT_NE(std::string::npos, read((dir / name).string()).find(":020000040801"));
        const auto loaded = load((dir / name).string());
        EXPECT_EQ(ImageFormat::kIntelHex, loaded.format);
        EXPECT_EQ(0x0800FF00u, loaded.image.base);
        EXPECT_EQ(expected, loaded.image.bytes);
    }
}

TEST_F(ImageFiles, FileLinkedAboveTheBaseStartsAtItsAddressAndOverlapsAreRefused) {
    if (!haveTool("srec_cat --version")) {
        GTEST_SKIP() << "srec_cat (Debian package srecord) is not installed";
    }
    const Bytes program = randomBytes(1000, 3);
    const std::string bin = write("app.bin", program);
    const std::string hex = (dir / "app.hex").string();
    ASSERT_EQ(
        0,
        std::system(
            ("srec_cat '" + bin + "' -binary -offset 0x08004000 -o '" + hex + "' -intel").c_str()));
    const auto loaded = load(hex);
    EXPECT_EQ(0x08004000u, loaded.image.base);
    EXPECT_EQ(program, loaded.image.bytes);

    // The same file twice, the second copy shifted by 16 bytes: its first
    // data record lands on bytes already given.
    const std::string shifted = (dir / "shifted.hex").string();
    ASSERT_EQ(0, std::system(("srec_cat '" + bin + "' -binary -offset 0x08004010 -o '" + shifted +
                              "' -intel")
                                 .c_str()));
    std::string first = read(hex);
    first.erase(first.find(":00000001FF"));
    const std::string second = read(shifted);
    const std::size_t firstLines =
        static_cast<std::size_t>(std::count(first.begin(), first.end(), '\n'));
    auto refused = isp::loadImageFile(write("both.hex", first + second), {});
    ASSERT_TRUE(std::holds_alternative<isp::ImageError>(refused));
    const auto& error = std::get<isp::ImageError>(refused);
    EXPECT_EQ(isp::ImageErrorKind::kOverlap, error.kind);
    EXPECT_EQ(0x08004010u, error.address);
    EXPECT_GT(error.line, firstLines);  // a line of the second copy
}

TEST_F(ImageFiles, HexBinaryAndElfOfOneProgramGiveOneImage) {
#ifndef HELLO_IMAGES
    GTEST_SKIP() << "arm-none-eabi-gcc (Debian gcc-arm-none-eabi) was not found at configure time";
#else
    const std::string base = HELLO_IMAGES;
    const auto elf = load(base + ".elf");
    const auto hex = load(base + ".hex");
    isp::ImageLoadOptions at;
    at.binaryAddress = 0x08000000;
    const auto bin = load(base + ".bin", at);
    EXPECT_EQ(ImageFormat::kElf, elf.format);
    EXPECT_EQ(ImageFormat::kIntelHex, hex.format);
    EXPECT_EQ(ImageFormat::kBinary, bin.format);
    EXPECT_EQ(0x08000000u, elf.image.base);
    EXPECT_GT(elf.image.bytes.size(), 64u);
    EXPECT_EQ(hex.image.base, elf.image.base);
    EXPECT_EQ(hex.image.bytes, elf.image.bytes);
    EXPECT_EQ(bin.image.base, elf.image.base);
    EXPECT_EQ(bin.image.bytes, elf.image.bytes);
#endif
}

TEST_F(ImageFiles, FormatIsFoundFromTheContentNotTheName) {
    const std::string hexText = linearBase(0x0800) + hexRecord(0, 0x20, {1, 2, 3, 4}) + kHexEnd;
    const auto hex = load(write("firmware.bin", "\xEF\xBB\xBF\r\n" + hexText));
    EXPECT_EQ(ImageFormat::kIntelHex, hex.format);
    EXPECT_EQ(0x08000020u, hex.image.base);

    // Text that is not all records is binary.
    const auto raw = load(write("notes.hex", ":not a record\n"));
    EXPECT_EQ(ImageFormat::kBinary, raw.format);
    EXPECT_EQ(0x08000000u, raw.image.base);
    EXPECT_EQ(14u, raw.image.bytes.size());

    isp::ImageLoadOptions at;
    at.binaryAddress = 0x08001000;
    const auto placed = load(write("raw", Bytes{0x7F, 'E', 'L', 'X'}), at);
    EXPECT_EQ(ImageFormat::kBinary, placed.format);
    EXPECT_EQ(0x08001000u, placed.image.base);
}

TEST_F(ImageFiles, FilesThatCannotLoadSayWhy) {
    struct Case {
        std::string path;
        isp::ImageErrorKind kind;
    };
    Bytes elfHeader(52, 0);
    const char magic[] = {0x7F, 'E', 'L', 'F', 1 /*32-bit*/, 1 /*little*/, 1};
    std::copy(std::begin(magic), std::end(magic), elfHeader.begin());
    elfHeader[16] = 1;  // a relocatable object, not an executable
    Bytes bigEndian = elfHeader;
    bigEndian[5] = 2;
    Bytes noPhdrs = elfHeader;
    noPhdrs[16] = 2;
    const Case cases[] = {
        {(dir / "missing.hex").string(), isp::ImageErrorKind::kUnreadable},
        {dir.string(), isp::ImageErrorKind::kUnreadable},
        {write("empty.bin", Bytes{}), isp::ImageErrorKind::kNoData},
        {write("big.bin", Bytes(128 * 1024 + 1, 0)), isp::ImageErrorKind::kOutsideFlash},
        {write("object.o", elfHeader), isp::ImageErrorKind::kBadElf},
        {write("bigendian.elf", bigEndian), isp::ImageErrorKind::kBadElf},
        {write("nophdrs.elf", noPhdrs), isp::ImageErrorKind::kBadElf},
        {write("cut.elf", Bytes(elfHeader.begin(), elfHeader.begin() + 20)),
         isp::ImageErrorKind::kBadElf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto loaded = isp::loadImageFile(c.path, {});
        ASSERT_TRUE(std::holds_alternative<isp::ImageError>(loaded));
        EXPECT_EQ(c.kind, std::get<isp::ImageError>(loaded).kind);
    }
}

}  // namespace
}  // namespace isp_test
