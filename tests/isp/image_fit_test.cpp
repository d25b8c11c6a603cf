// An image made ready for a part: its start moved down to the part's write
// unit and what the file left out set to the part's erased value.
#include <gtest/gtest.h>

#include <variant>

#include "image.h"

namespace isp_test {
namespace {

constexpr std::uint32_t kBase = 0x08000000;
const isp::FlashLimits kFlash{kBase, 64 * 1024};

// One image of two chunks: `first` bytes 0x11 at `at`, then 4 bytes 0x22 at
// `at + first + gap`.
isp::Image TwoChunks(std::uint32_t at, std::size_t first, std::size_t gap) {
    static const isp::Bytes a(64, 0x11);
    static const isp::Bytes b(4, 0x22);
    auto built = isp::assembleImage(
        {{at, std::span(a).first(first), 1}, {at + first + gap, std::span(b), 2}}, kFlash);
    return std::get<isp::Image>(built);
}

struct FitCase {
    const char* name;
    std::uint32_t at;
    std::size_t first;
    std::size_t gap;
    isp::PartFit part;
    std::uint32_t base;  // where the fitted image starts
    std::size_t lead;    // erased bytes in front of the file's first byte
};

class ImageFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(ImageFit, StartsOnTheWriteUnitAndFillsWhatTheFileLeftOut) {
    const FitCase& c = GetParam();
    const isp::Image loaded = TwoChunks(c.at, c.first, c.gap);
    auto fitted = isp::fitImageToPart(loaded, c.part, kFlash);
    ASSERT_TRUE(std::holds_alternative<isp::Image>(fitted));
    const isp::Image& image = std::get<isp::Image>(fitted);
    EXPECT_EQ(c.base, image.base);
    EXPECT_EQ(0u, image.base % c.part.writeUnit);
    ASSERT_EQ(loaded.end(), image.end());
    isp::Bytes expected(c.lead, c.part.erasedByte);
    expected.insert(expected.end(), c.first, 0x11);
    expected.insert(expected.end(), c.gap, c.part.erasedByte);
    expected.insert(expected.end(), 4, 0x22);
    EXPECT_EQ(expected, image.bytes);
    // Fitting again changes nothing; another part's erased value refills
    // the same bytes.
    auto again = isp::fitImageToPart(image, c.part, kFlash);
    EXPECT_EQ(image.bytes, std::get<isp::Image>(again).bytes);
    const isp::PartFit other{c.part.writeUnit, static_cast<std::uint8_t>(~c.part.erasedByte)};
    const auto refilled = std::get<isp::Image>(isp::fitImageToPart(image, other, kFlash));
    for (std::size_t i = 0; i < expected.size(); i++) {
        const bool filler = expected[i] != 0x11 && expected[i] != 0x22;
        EXPECT_EQ(filler ? other.erasedByte : expected[i], refilled.bytes[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Parts, ImageFit,
    ::testing::Values(
        // H7: a 32-byte flash word; the file starts 3 bytes in.
        FitCase{"h7_odd_start", kBase + 3, 5, 0, {32, 0xFF}, kBase, 3},
        FitCase{"h7_word_start", kBase + 0x24, 8, 0, {32, 0xFF}, kBase + 0x20, 4},
        // G0/L4: double words.
        FitCase{"g0_double_word", kBase + 0x104, 4, 8, {8, 0xFF}, kBase + 0x100, 4},
        // L0/L1 read 0x00 when erased: padding and the gap take it too.
        FitCase{"l0_gap_zero", kBase + 0x11, 3, 5, {4, 0x00}, kBase + 0x10, 1},
        // F1 as the window has always written it: already on a word, nothing added.
        FitCase{"f1_aligned", kBase + 0x400, 16, 16, {4, 0xFF}, kBase + 0x400, 0}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ImageFitRefusal, PaddingBelowTheFlashIsRefusedWithTheAddressItWouldNeed) {
    isp::Image image;
    image.base = kBase + 8;
    image.bytes.assign(8, 0x33);
    const isp::FlashLimits aboveImage{kBase + 0x10, 1024};
    auto fitted = isp::fitImageToPart(image, {32, 0xFF}, aboveImage);
    ASSERT_TRUE(std::holds_alternative<isp::ImageError>(fitted));
    const auto& error = std::get<isp::ImageError>(fitted);
    EXPECT_EQ(isp::ImageErrorKind::kOutsideFlash, error.kind);
    EXPECT_EQ(kBase, error.address.value_or(0));
}

}  // namespace
}  // namespace isp_test
