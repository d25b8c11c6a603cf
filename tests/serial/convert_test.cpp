#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "TideCommConvert.h"

namespace {

TEST(HexToInt, ReadsEitherCaseAndNeverRejects) {
    EXPECT_EQ(TideComm_HexToInt("1aF", 3), 0x1AF);
    EXPECT_EQ(TideComm_HexToInt("7E", 2), 126);
    // 'G' - '0' is 0x17, ORed over the shifted 0x10.
    EXPECT_EQ(TideComm_HexToInt("1G", 2), 0x17);
    EXPECT_EQ(TideComm_HexToInt("FF", 0), 0);
    // Only the given length is read.
    EXPECT_EQ(TideComm_HexToInt("12345", 2), 0x12);
    // A ninth digit pushes the first out of the 32-bit value.
    EXPECT_EQ(TideComm_HexToInt("123456789", 9), 0x23456789);
    EXPECT_EQ(TideComm_HexToInt("FFFFFFFF", 8), -1);
    // Characters below '0' OR in their negative difference, sign bits included.
    EXPECT_EQ(TideComm_HexToInt(" ", 1), -16);
    EXPECT_EQ(TideComm_HexToInt(nullptr, 4), 0);
}

TEST(IntToHex, LittleEndianValueComesOutMostSignificantFirst) {
    char text[16];
    const unsigned char byte = 0x0B;
    TideComm_IntToHex(&byte, text, 2);
    EXPECT_STREQ(text, "0B");

    const unsigned char le1234[] = {0x34, 0x12};
    TideComm_IntToHex(le1234, text, 4);
    EXPECT_STREQ(text, "1234");

    const unsigned char leABCD[] = {0xCD, 0xAB, 0x00, 0x00};
    TideComm_IntToHex(leABCD, text, 8);
    EXPECT_STREQ(text, "0000ABCD");

    const std::uint32_t value = 0xDEADBEEF;
    TideComm_IntToHex(&value, text, 8);
    EXPECT_STREQ(text, "DEADBEEF");
}

TEST(IntToHex, OddOrEmptyDigitCountsStayInsideTheText) {
    char text[8];
    std::memset(text, 'x', sizeof text);
    const unsigned char le0ABC[] = {0xBC, 0x0A};
    TideComm_IntToHex(le0ABC, text, 3);
    EXPECT_STREQ(text, "ABC");
    EXPECT_EQ(text[4], 'x');

    std::memset(text, 'x', sizeof text);
    TideComm_IntToHex(le0ABC, text, 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[1], 'x');
    TideComm_IntToHex(le0ABC, text, -3);
    EXPECT_EQ(text[0], 0);
}

TEST(BinToHex, BytesWithAndWithoutBlanks) {
    const unsigned char bytes[] = {0x01, 0xAB, 0xFF};
    char text[32];
    std::memset(text, 'x', sizeof text);
    TideComm_BinToHex(bytes, text, 3, 1);
    EXPECT_STREQ(text, "01 AB FF");
    EXPECT_EQ(std::strlen(text), 8u);
    EXPECT_EQ(text[9], 'x');  // exactly 2*3 + 1*2 + 1 characters written

    TideComm_BinToHex(bytes, text, 3, 0);
    EXPECT_STREQ(text, "01ABFF");
    TideComm_BinToHex(bytes, text, 2, 3);
    EXPECT_STREQ(text, "01   AB");

    std::memset(text, 'x', sizeof text);
    TideComm_BinToHex(bytes, text, 0, 1);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(text[1], 'x');
}

TEST(UU, EncodeAndDecodeOneGroup) {
    char text[5];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(TideComm_BinToUUEnCode("Cat", text), 0);
    EXPECT_STREQ(text, "0V%T");

    const unsigned char zeros[3] = {0, 0, 0};
    EXPECT_EQ(TideComm_BinToUUEnCode(zeros, text), 0);
    EXPECT_STREQ(text, "````");

    unsigned char bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(TideComm_UUToBinDecode("0V%T", bytes), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 3), "Cat");
    EXPECT_EQ(bytes[3], 0xEE);  // nothing written past the group

    EXPECT_EQ(TideComm_UUToBinDecode("    ", bytes), 0);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
}

TEST(UU, EveryGroupRoundTrips) {
    for (int v = 0; v < 256; ++v) {
        const unsigned char in[3] = {static_cast<unsigned char>(v),
                                     static_cast<unsigned char>(255 - v),
                                     static_cast<unsigned char>(v * 7)};
        char text[5];
        unsigned char out[3];
        ASSERT_EQ(TideComm_BinToUUEnCode(in, text), 0);
        for (int i = 0; i < 4; ++i) {
            ASSERT_GT(text[i], 0x20) << "blank written for value " << v;
            ASSERT_LE(text[i], 0x60);
        }
        ASSERT_EQ(TideComm_UUToBinDecode(text, out), 0);
        ASSERT_EQ(std::memcmp(in, out, 3), 0) << "value " << v;
    }
}

TEST(UU, HexTextVariants) {
    char text[5];
    EXPECT_EQ(TideComm_HexToUUEnCode("436174", text), 0);
    EXPECT_STREQ(text, "0V%T");
    EXPECT_EQ(TideComm_HexToUUEnCode("4D616E", text), 0);
    EXPECT_STREQ(text, "36%N");
    EXPECT_EQ(TideComm_HexToUUEnCode("4d616e", text), 0);
    EXPECT_STREQ(text, "36%N");

    char hex[8];
    std::memset(hex, 'x', sizeof hex);
    EXPECT_EQ(TideComm_UUToHexDecode("0V%T", hex), 0);
    EXPECT_EQ(std::string(hex, 6), "436174");
    EXPECT_EQ(hex[6], 'x');  // no terminating 0 after the digits
    EXPECT_EQ(TideComm_UUToHexDecode("E0``", hex), 0);
    EXPECT_EQ(std::string(hex, 6), "950000");
}

TEST(UU, NullPointersAreRefusedWithoutWriting) {
    char text[5] = "keep";
    unsigned char bytes[3] = {1, 2, 3};
    EXPECT_EQ(TideComm_BinToUUEnCode(nullptr, text), 1);
    EXPECT_EQ(TideComm_BinToUUEnCode(bytes, nullptr), 1);
    EXPECT_EQ(TideComm_UUToBinDecode(nullptr, bytes), 1);
    EXPECT_EQ(TideComm_UUToBinDecode("0V%T", nullptr), 1);
    EXPECT_EQ(TideComm_HexToUUEnCode(nullptr, text), 1);
    EXPECT_EQ(TideComm_HexToUUEnCode("436174", nullptr), 1);
    EXPECT_EQ(TideComm_UUToHexDecode(nullptr, text), 1);
    EXPECT_EQ(TideComm_UUToHexDecode("0V%T", nullptr), 1);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(bytes[0], 1);
}

int PecOf(const char* text) {
    unsigned char code = 0;
    int result = 0;
    for (const char* p = text; *p != 0; ++p) {
        result = TideComm_PEC(&code, static_cast<unsigned char>(*p));
        EXPECT_EQ(result, code);
    }
    return result;
}

TEST(PEC, CheckValues) {
    EXPECT_EQ(PecOf("123456789"), 0xF4);
    EXPECT_EQ(PecOf("abc"), 0x5F);
    unsigned char code = 0;
    EXPECT_EQ(TideComm_PEC(&code, 0x01), 0x07);
    EXPECT_EQ(code, 0x07);
    // The running code is carried: appending the PEC gives 0.
    code = 0;
    TideComm_PEC(&code, 0x12);
    TideComm_PEC(&code, 0x34);
    const unsigned char pec = code;
    EXPECT_EQ(TideComm_PEC(&code, pec), 0);
    EXPECT_EQ(TideComm_PEC(nullptr, 1), -1);
}

}  // namespace
