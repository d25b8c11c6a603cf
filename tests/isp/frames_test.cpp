// Frame layouts against bytes worked out by hand from the protocol document.
#include <gtest/gtest.h>

#include "case_name.h"

#include "frames.h"

namespace isp_test {
namespace {

using isp::Bytes;

struct FrameCase {
    const char* name;
    std::optional<Bytes> built;
    std::optional<Bytes> expected;
};

class Frames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frames, HaveTheirLayout) {
    EXPECT_EQ(GetParam().expected, GetParam().built);
}

const std::uint8_t kBlock[] = {0x01, 0x02, 0x04, 0x08};
const std::uint8_t kPages[] = {0x00, 0x01, 0x7F};
const std::uint16_t kWidePages[] = {0x0000, 0x0102, 0x0FFF};

INSTANTIATE_TEST_SUITE_P(
    Isp, Frames,
    ::testing::Values(
        FrameCase{"command", isp::commandFrame(isp::Command::kWriteMemory), Bytes{0x31, 0xCE}},
        FrameCase{"get", isp::commandFrame(isp::Command::kGet), Bytes{0x00, 0xFF}},
        FrameCase{"address", isp::addressFrame(0x08000000), Bytes{0x08, 0x00, 0x00, 0x00, 0x08}},
        FrameCase{"address all bytes", isp::addressFrame(0x12345678),
                  Bytes{0x12, 0x34, 0x56, 0x78, 0x08}},
        FrameCase{"length 256", isp::lengthFrame(256), Bytes{0xFF, 0x00}},
        FrameCase{"length 1", isp::lengthFrame(1), Bytes{0x00, 0xFF}},
        FrameCase{"length 0", isp::lengthFrame(0), std::nullopt},
        FrameCase{"length 257", isp::lengthFrame(257), std::nullopt},
        FrameCase{"data block", isp::dataBlockFrame(kBlock),
                  Bytes{0x03, 0x01, 0x02, 0x04, 0x08, 0x03 ^ 0x0F}},
        FrameCase{"empty data block", isp::dataBlockFrame({}), std::nullopt},
        FrameCase{"page list", isp::erasePageListFrame(kPages),
                  Bytes{0x02, 0x00, 0x01, 0x7F, 0x02 ^ 0x01 ^ 0x7F}},
        FrameCase{"empty page list", isp::erasePageListFrame({}), std::nullopt},
        FrameCase{"erase all", isp::eraseAllFrame(), Bytes{0xFF, 0x00}},
        FrameCase{"extended page list", isp::extendedErasePageListFrame(kWidePages),
                  Bytes{0x00, 0x02, 0x00, 0x00, 0x01, 0x02, 0x0F, 0xFF,
                        0x02 ^ 0x01 ^ 0x02 ^ 0x0F ^ 0xFF}},
        FrameCase{"mass erase code",
                  isp::extendedEraseCodeFrame(isp::ExtendedEraseCode::kMassErase),
                  Bytes{0xFF, 0xFF, 0x00}},
        FrameCase{"bank 2 code", isp::extendedEraseCodeFrame(isp::ExtendedEraseCode::kBank2),
                  Bytes{0xFF, 0xFD, 0x02}}),
    CaseName());

TEST(FrameLimits, LargestListsAndBlocksAreBuiltAndOneMoreIsRefused) {
    const Bytes block(256, 0xA5);
    const auto frame = isp::dataBlockFrame(block);
    ASSERT_TRUE(frame);
    EXPECT_EQ(258u, frame->size());
    EXPECT_EQ(0xFF, frame->front());
    EXPECT_EQ(0xFF, frame->back());  // 0xFF, then 256 bytes that cancel out
    EXPECT_FALSE(isp::dataBlockFrame(Bytes(257, 0)));
    EXPECT_TRUE(isp::erasePageListFrame(Bytes(255, 1)));
    EXPECT_FALSE(isp::erasePageListFrame(Bytes(256, 1)));  // 0xFF would mean "all"
    const std::vector<std::uint16_t> wide(isp::kMaxExtendedErasePages + 1, 0);
    EXPECT_FALSE(isp::extendedErasePageListFrame(wide));
}

}  // namespace
}  // namespace isp_test
