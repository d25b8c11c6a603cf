#include <gtest/gtest.h>

#include "case_name.h"
#include "hex_reader.h"
#include "hex_text.h"

namespace isp_test {
namespace {

using isp::Bytes;
using isp::HexErrorKind;
using isp::ImageErrorKind;

Bytes run(std::size_t count, std::uint8_t first) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(first + i);
    }
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct SyntaxCase {
    const char* name;
    std::string text;
    HexErrorKind kind;
    std::size_t line;
};

class HexSyntax : public ::testing::TestWithParam<SyntaxCase> {};

TEST_P(HexSyntax, NamesTheLineAndTheFault) {
    const auto& c = GetParam();
    const auto parsed = isp::parseHexRecords(c.text);
    ASSERT_TRUE(std::holds_alternative<isp::HexSyntaxError>(parsed));
    const auto error = std::get<isp::HexSyntaxError>(parsed);
    EXPECT_EQ(c.kind, error.kind);
    EXPECT_EQ(c.line, error.line);
}

const std::string kGood = hexRecord(0, 0, {1, 2, 3, 4});

INSTANTIATE_TEST_SUITE_P(
    Isp, HexSyntax,
    ::testing::Values(
        SyntaxCase{"no colon", kGood + kGood.substr(1), HexErrorKind::kNoStartCode, 2},
        SyntaxCase{"bad digit", ":0100000G0FE0\n", HexErrorKind::kBadDigit, 1},
        SyntaxCase{"odd digits", kGood + "\r\n\r\n:0000000\n", HexErrorKind::kBadDigit, 4},
        SyntaxCase{"too short", ":00000001\n", HexErrorKind::kTooShort, 1},
        SyntaxCase{"count larger than line", ":FF000000AABB57\n", HexErrorKind::kLengthMismatch, 1},
        SyntaxCase{"checksum", ":0400000001020304F1\n", HexErrorKind::kBadChecksum, 1},
        SyntaxCase{"type 06", hexRecord(6, 0, {}), HexErrorKind::kUnknownType, 1},
        SyntaxCase{"short 04", hexRecord(4, 0, {8}), HexErrorKind::kBadAddressRecord, 1},
        SyntaxCase{"short 05", hexRecord(5, 0, {8, 0}), HexErrorKind::kBadAddressRecord, 1}),
    CaseName());

TEST(HexRecords, ParseAnyLineEndAndStopAtTheEndRecord) {
    const std::string text = "\n" + hexRecord(0, 0x1234, {0xAB, 0xCD}) + "\r\n" +
                             linearBase(0x0800) + "  \n" + kHexEnd + "garbage after the end\n";
    const auto parsed = isp::parseHexRecords(text);
    ASSERT_TRUE(std::holds_alternative<std::vector<isp::HexRecord>>(parsed));
    const auto& records = std::get<std::vector<isp::HexRecord>>(parsed);
    ASSERT_EQ(3u, records.size());
    EXPECT_EQ(isp::HexRecordType::kData, records[0].type);
    EXPECT_EQ(0x1234, records[0].offset);
    EXPECT_EQ((Bytes{0xAB, 0xCD}), records[0].data);
    EXPECT_EQ(2u, records[0].line);
    EXPECT_EQ(isp::HexRecordType::kExtendedLinearAddress, records[1].type);
    EXPECT_EQ(4u, records[1].line);
    EXPECT_EQ(isp::HexRecordType::kEndOfFile, records[2].type);
}

struct ImageCase {
    const char* name;
    std::string text;
    std::uint32_t base;
    Bytes bytes;
};

class HexImages : public ::testing::TestWithParam<ImageCase> {};

TEST_P(HexImages, HoldEveryByteAtItsAddress) {
    const auto& c = GetParam();
    const auto result = isp::readHexImage(c.text, isp::FlashLimits{});
    ASSERT_TRUE(std::holds_alternative<isp::Image>(result))
        << static_cast<int>(std::get<isp::ImageError>(result).kind);
    const auto& image = std::get<isp::Image>(result);
    EXPECT_EQ(c.base, image.base);
    EXPECT_EQ(c.bytes, image.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Isp, HexImages,
    ::testing::Values(
        ImageCase{"contiguous at the flash base",
                  linearBase(0x0800) + hexRecord(0, 0, run(16, 0)) + hexRecord(0, 16, run(5, 16)) +
                      kHexEnd,
                  0x08000000, run(21, 0)},
        ImageCase{"linked at 0 counts from the flash base",
                  hexRecord(0, 0, run(16, 0)) + hexRecord(0, 16, run(16, 16)) + kHexEnd, 0x08000000,
                  run(32, 0)},
        ImageCase{"gap filled with erased bytes",
                  linearBase(0x0800) + hexRecord(0, 0x10, run(4, 1)) +
                      hexRecord(0, 0x20, run(2, 9)) + kHexEnd,
                  0x08000010, concat({run(4, 1), Bytes(12, 0xFF), run(2, 9)})},
        ImageCase{"start aligned down to four",
                  linearBase(0x0800) + hexRecord(0, 0x4003, run(3, 7)) + kHexEnd, 0x08004000,
                  concat({Bytes(3, 0xFF), run(3, 7)})},
        ImageCase{"records out of order",
                  linearBase(0x0800) + hexRecord(0, 0x104, run(4, 4)) +
                      hexRecord(0, 0x100, run(4, 0)) + kHexEnd,
                  0x08000100, run(8, 0)},
        ImageCase{"linear records across 64 KiB",
                  linearBase(0x0800) + hexRecord(0, 0xFFFC, run(4, 0)) + linearBase(0x0801) +
                      hexRecord(0, 0, run(4, 4)) + kHexEnd,
                  0x0800FFFC, run(8, 0)},
        ImageCase{"one linear record runs past 64 KiB",
                  linearBase(0x0800) + hexRecord(0, 0xFFFE, run(4, 0)) + kHexEnd, 0x0800FFFC,
                  concat({Bytes(2, 0xFF), run(4, 0)})},
        ImageCase{"segment record",
                  hexRecord(2, 0, {0x01, 0x00}) + hexRecord(0, 0x0010, run(4, 0)) + kHexEnd,
                  0x08001010, run(4, 0)},
        ImageCase{"no end record", hexRecord(0, 0, run(4, 0)), 0x08000000, run(4, 0)},
        ImageCase{"start address records carry no data",
                  hexRecord(5, 0, {0x08, 0, 0, 0x41}) + hexRecord(0, 0, run(4, 0)) +
                      hexRecord(3, 0, {0, 0, 0, 0}) + kHexEnd,
                  0x08000000, run(4, 0)}),
    CaseName());

struct RefusalCase {
    const char* name;
    std::string text;
    ImageErrorKind kind;
    std::size_t line;
    std::optional<std::uint32_t> address;
};

class HexRefusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(HexRefusals, NameTheLineAndAddress) {
    const auto& c = GetParam();
    const auto result = isp::readHexImage(c.text, isp::FlashLimits{0x08000000, 64 * 1024});
    ASSERT_TRUE(std::holds_alternative<isp::ImageError>(result));
    const auto& error = std::get<isp::ImageError>(result);
    EXPECT_EQ(c.kind, error.kind);
    EXPECT_EQ(c.line, error.line);
    EXPECT_EQ(c.address, error.address);
}

INSTANTIATE_TEST_SUITE_P(
    Isp, HexRefusals,
    ::testing::Values(RefusalCase{"overlap names the later line",
                                  linearBase(0x0800) + hexRecord(0, 0x100, run(16, 0)) +
                                      hexRecord(0, 0x200, run(4, 0)) +
                                      hexRecord(0, 0x10C, run(8, 0)) + kHexEnd,
                                  ImageErrorKind::kOverlap, 4, 0x0800010C},
                      RefusalCase{"overlap of an earlier address later in the file",
                                  linearBase(0x0800) + hexRecord(0, 0x108, run(8, 0)) +
                                      hexRecord(0, 0x100, run(9, 0)) + kHexEnd,
                                  ImageErrorKind::kOverlap, 3, 0x08000108},
                      RefusalCase{"the same byte through a linked-at-0 address",
                                  hexRecord(0, 0x10, run(4, 0)) + linearBase(0x0800) +
                                      hexRecord(0, 0x12, run(1, 0)) + kHexEnd,
                                  ImageErrorKind::kOverlap, 3, 0x08000012},
                      RefusalCase{"past the end of flash",
                                  linearBase(0x0800) + hexRecord(0, 0xFFF8, run(8, 0)) +
                                      linearBase(0x0801) + hexRecord(0, 0, run(1, 0)) + kHexEnd,
                                  ImageErrorKind::kOutsideFlash, 4, 0x08010000},
                      RefusalCase{"a record that runs off the end",
                                  linearBase(0x0800) + hexRecord(0, 0xFFFC, run(8, 0)) + kHexEnd,
                                  ImageErrorKind::kOutsideFlash, 2, 0x08010000},
                      RefusalCase{"below the flash base",
                                  linearBase(0x0000) + hexRecord(0, 0x0, run(4, 0)) +
                                      linearBase(0x0700) + hexRecord(0, 0x0, run(4, 0)) + kHexEnd,
                                  ImageErrorKind::kOutsideFlash, 4, 0x07000000},
                      RefusalCase{"no data record", linearBase(0x0800) + kHexEnd,
                                  ImageErrorKind::kNoData, 0, std::nullopt},
                      RefusalCase{"empty file", "", ImageErrorKind::kNoData, 0, std::nullopt},
                      RefusalCase{"data after the end record does not count",
                                  kHexEnd + hexRecord(0, 0, run(4, 0)), ImageErrorKind::kNoData, 0,
                                  std::nullopt},
                      RefusalCase{"syntax", hexRecord(0, 0, run(4, 0)) + ":zz\n",
                                  ImageErrorKind::kHexSyntax, 2, std::nullopt}),
    CaseName());

}  // namespace
}  // namespace isp_test
