#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "session.h"

namespace {

std::vector<int> Bytes(const char* frame, int length) {
    std::vector<int> bytes;
    for (int i = 0; i < length; i++) {
        bytes.push_back(static_cast<unsigned char>(frame[i]));
    }
    return bytes;
}

TEST(SessionFrames, AddressesGoMostSignificantFirstWithTheirXor) {
    char frame[5];
    int2str(frame, 0x08000000);
    EXPECT_EQ((std::vector<int>{0x08, 0, 0, 0}), Bytes(frame, 4));
    ASSERT_EQ(5, BuildAddressFrame(frame, 0x08000000));
    EXPECT_EQ((std::vector<int>{0x08, 0, 0, 0, 0x08}), Bytes(frame, 5));
    ASSERT_EQ(5, BuildAddressFrame(frame, 0x1FFFF7E0));
    EXPECT_EQ((std::vector<int>{0x1F, 0xFF, 0xF7, 0xE0, 0xF7}), Bytes(frame, 5));
    ASSERT_EQ(5, BuildAddressFrame(frame, 0x08000100));
    EXPECT_EQ((std::vector<int>{0x08, 0x00, 0x01, 0x00, 0x09}), Bytes(frame, 5));
}

TEST(SessionFrames, ReadLengthIsCountMinusOneAndItsComplement) {
    char frame[2];
    ASSERT_EQ(2, BuildReadLengthFrame(frame, 256));
    EXPECT_EQ((std::vector<int>{0xFF, 0x00}), Bytes(frame, 2));
    ASSERT_EQ(2, BuildReadLengthFrame(frame, 22));
    EXPECT_EQ((std::vector<int>{0x15, 0xEA}), Bytes(frame, 2));
    ASSERT_EQ(2, BuildReadLengthFrame(frame, 1));
    EXPECT_EQ((std::vector<int>{0x00, 0xFF}), Bytes(frame, 2));
}

TEST(SessionFrames, DataBlocksCarryLengthDataAndXor) {
    char frame[258];
    const unsigned char one = 0xA7;
    ASSERT_EQ(3, BuildDataBlockFrame(frame, &one, 1));
    EXPECT_EQ((std::vector<int>{0x00, 0xA7, 0xA7}), Bytes(frame, 3));

    unsigned char full[256];
    int xorOfData = 0;
    for (int i = 0; i < 256; i++) {
        full[i] = static_cast<unsigned char>(i * 7 + 3);
        xorOfData ^= full[i];
    }
    ASSERT_EQ(258, BuildDataBlockFrame(frame, full, 256));
    EXPECT_EQ(0xFF, static_cast<unsigned char>(frame[0]));
    EXPECT_EQ(0, std::memcmp(frame + 1, full, 256));
    EXPECT_EQ(0xFF ^ xorOfData, static_cast<unsigned char>(frame[257]));
}

TEST(SessionFrames, PageListsCountPagesFromTheFirst) {
    char frame[258];
    ASSERT_EQ(5, BuildPageListFrame(frame, 10, 3));
    EXPECT_EQ((std::vector<int>{0x02, 0x0A, 0x0B, 0x0C, 0x0F}), Bytes(frame, 5));
    ASSERT_EQ(3, BuildPageListFrame(frame, 77, 1));
    EXPECT_EQ((std::vector<int>{0x00, 77, 77}), Bytes(frame, 3));
    // Page numbers are one byte each: 255 is followed by 0.
    ASSERT_EQ(4, BuildPageListFrame(frame, 255, 2));
    EXPECT_EQ((std::vector<int>{0x01, 0xFF, 0x00, 0xFE}), Bytes(frame, 4));
    ASSERT_EQ(258, BuildPageListFrame(frame, 0, 256));
    int checksum = 0xFF;
    for (int page = 0; page < 256; page++) {
        EXPECT_EQ(page, static_cast<unsigned char>(frame[1 + page]));
        checksum ^= page;
    }
    EXPECT_EQ(checksum, static_cast<unsigned char>(frame[257]));
}

}  // namespace
