// Flash behaves like STM32F1 flash under the bootloader: programming only
// clears bits of erased half-words, partial words are dropped, and the
// protection commands change the option bytes and reset the chip.
#include <gtest/gtest.h>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

class Flash : public ::testing::Test {
  protected:
    Flash() : target(bootloader_config()) {}
    void SetUp() override { ASSERT_EQ(talk(target, {0x7F}), Bytes{ack}); }

    Bytes write(std::uint32_t address, const Bytes& data) {
        return talk(target, command(0x31) + address_frame(address) + block(data));
    }
    Bytes at(std::uint32_t address, std::uint32_t length) {
        return *target.read_memory(address, length);
    }

    Target target;
};

TEST_F(Flash, ProgrammedHalfWordsStayUntilErased) {
    ASSERT_EQ(write(flash_base, {0x0F, 0xF0, 0x33, 0x33}), (Bytes{ack, ack, ack}));
    // Rewriting: 0xFFFF would need 0 -> 1, 0x0033 only clears bits but the
    // cell is not erased; both are refused by the controller, silently.
    EXPECT_EQ(write(flash_base, {0xFF, 0xFF, 0x33, 0x00}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base, 4), (Bytes{0x0F, 0xF0, 0x33, 0x33}));
    // Writing 0x0000 is the one rewrite the controller accepts.
    EXPECT_EQ(write(flash_base, {0x00, 0x00, 0x00, 0x00}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base, 4), (Bytes{0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(talk(target, command(0x43) + block({0})), (Bytes{ack, ack}));
    EXPECT_EQ(write(flash_base, {0x12, 0x34, 0x56, 0x78}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base, 4), (Bytes{0x12, 0x34, 0x56, 0x78}));
}

TEST_F(Flash, ALengthNotAMultipleOfFourLosesItsLastPartialWord) {
    EXPECT_EQ(write(flash_base + 0x100, {1, 2, 3, 4, 5, 6}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base + 0x100, 8), (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(write(flash_base + 0x200, {9, 9, 9}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base + 0x200, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    // Words count from the start address, so an address at a half-word
    // boundary with a length of 4n + 2 loses its last two bytes.
    EXPECT_EQ(write(flash_base + 0x302, {1, 2, 3, 4, 5, 6}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base + 0x300, 8), (Bytes{0xFF, 0xFF, 1, 2, 3, 4, 0xFF, 0xFF}));
    const auto log = target.commands();
    EXPECT_EQ(log.back().text,
              "Write Memory 0x08000302 6 bytes: ACK (last partial word not programmed)");
}

TEST_F(Flash, WriteProtectionBlocksWritesAndErasesUntilUnprotected) {
    EXPECT_EQ(talk(target, command(0x63) + block({1})), (Bytes{ack, ack}));
    EXPECT_EQ(target.write_protection(), 0xFFFF'FFFDu);
    EXPECT_FALSE(talk(target, command(0x01)).size()) << "the chip reset: sync first";
    const std::uint64_t resets = target.reset_count();
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});

    // Sector 1 = bytes 4096..8191 (pages 4 to 7 of 1 KiB). Protected
    // sectors are skipped without an error.
    EXPECT_EQ(write(flash_base + 4092, {1, 2, 3, 4, 5, 6, 7, 8}), (Bytes{ack, ack, ack}));
    EXPECT_EQ(at(flash_base + 4092, 8), (Bytes{1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF}));
    target.load_flash(flash_base, Bytes(8192, 0x00));
    EXPECT_EQ(talk(target, command(0x43) + block({0, 4})), (Bytes{ack, ack}));
    EXPECT_EQ(at(flash_base, 1), Bytes{0xFF});
    EXPECT_EQ(at(flash_base + 4096, 1), Bytes{0x00});
    EXPECT_EQ(talk(target, command(0x43) + Bytes{0xFF, 0x00}), (Bytes{ack, ack}));
    EXPECT_EQ(at(flash_base + 4095, 2), (Bytes{0xFF, 0x00})) << "mass erase keeps them too";
    EXPECT_EQ(at(flash_base + 8192, 1), Bytes{0xFF});
    EXPECT_EQ(talk(target, command(0x63) + block({16})), (Bytes{ack, nack}))
        << "64 KiB: sectors 0-15";

    EXPECT_EQ(talk(target, command(0x73)), (Bytes{ack, ack}));
    EXPECT_EQ(target.write_protection(), 0xFFFF'FFFFu);
    EXPECT_EQ(target.reset_count(), resets + 1);
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_EQ(talk(target, command(0x43) + block({4})), (Bytes{ack, ack}));
    EXPECT_EQ(at(flash_base + 4096, 1), Bytes{0xFF});
}

TEST_F(Flash, ReadoutProtectionRefusesAccessUntilUnprotectErasesEverything) {
    target.load_flash(flash_base, Bytes{0x11, 0x22, 0x33, 0x44});
    EXPECT_EQ(talk(target, command(0x82)), (Bytes{ack, ack}));
    EXPECT_TRUE(target.readout_protected());
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    for (int code : {0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(talk(target, command(static_cast<std::uint8_t>(code))), Bytes{nack});
    }
    EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, 0x22, 0x00, 0x00, ack}));
    EXPECT_EQ(talk(target, command(0x02)).size(), 5u);

    EXPECT_EQ(talk(target, command(0x92)), (Bytes{ack, ack}));
    EXPECT_FALSE(target.readout_protected());
    EXPECT_EQ(target.flash(), Bytes(64 * 1024, 0xFF));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_EQ(talk(target, command(0x11) + address_frame(flash_base) + Bytes{0x00, 0xFF}),
              (Bytes{ack, ack, ack, 0xFF}));
}

TEST_F(Flash, WritingTheOptionBytesReprogramsThemAndResets) {
    // RDP 0xA5 kept, WRP0 = 0xFE: sector 0 protected.
    const Bytes options{0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFE, 0x01};
    EXPECT_EQ(talk(target, command(0x31) + address_frame(option_bytes_address + 8)),
              (Bytes{ack, nack}))
        << "only a write of the whole block, from its start";
    EXPECT_EQ(talk(target, command(0x31) + address_frame(option_bytes_address) + block(options)),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.write_protection(), 0xFFFF'FFFEu) << "unwritten WRP bytes read as erased";
    EXPECT_FALSE(target.readout_protected());
    EXPECT_EQ(talk(target, command(0x01)), Bytes{}) << "reset: waiting for 0x7F again";
}

TEST(FlashImage, LoadFlashRejectsRangesOutsideFlash) {
    Target target(bootloader_config("f103c6"));
    EXPECT_TRUE(target.load_flash(flash_base, Bytes(32 * 1024, 0x5A)));
    EXPECT_FALSE(target.load_flash(flash_base, Bytes(32 * 1024 + 1, 0x00)));
    EXPECT_FALSE(target.load_flash(flash_base + 32 * 1024 - 1, Bytes{1, 2}));
    EXPECT_FALSE(target.load_flash(ram_base, Bytes{1}));
    EXPECT_EQ(target.flash(), Bytes(32 * 1024, 0x5A)) << "a refused load changes nothing";
}

}  // namespace
}  // namespace stm32sim::test
