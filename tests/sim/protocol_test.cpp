// Byte-exact exchanges with the bootloader, following the command diagrams
// of AN3155 for an STM32F1 system memory (protocol version 2.2).
#include <gtest/gtest.h>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

class Protocol : public ::testing::Test {
  protected:
    Protocol() : target(bootloader_config()) {}
    void SetUp() override { ASSERT_EQ(talk(target, {0x7F}), Bytes{ack}); }

    Target target;
};

TEST(Synchronisation, OnlyTheSyncByteIsAnsweredAndASecondOneStartsACommand) {
    Target target(bootloader_config());
    EXPECT_EQ(talk(target, {0x00, 0x55, 0xFF}), Bytes{}) << "noise before autobaud is ignored";
    EXPECT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_EQ(talk(target, {0x7F}), Bytes{}) << "a second 0x7F is a command byte";
    EXPECT_EQ(talk(target, {0x80}), Bytes{nack}) << "0x7F with its complement is unknown";
    EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, 0x22, 0x00, 0x00, ack}));
}

TEST_F(Protocol, GetListsTheF1CommandSet) {
    EXPECT_EQ(talk(target, command(0x00)), (Bytes{ack, 11, 0x22, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31,
                                                  0x43, 0x63, 0x73, 0x82, 0x92, ack}));
}

TEST_F(Protocol, GetVersionAndGetId) {
    EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, 0x22, 0x00, 0x00, ack}));
    EXPECT_EQ(talk(target, command(0x02)), (Bytes{ack, 0x01, 0x04, 0x10, ack}));
}

TEST(Products, GetIdAndIdentificationBlockFollowTheProduct) {
    struct Case {
        const char* name;
        std::uint16_t pid;
        std::uint16_t flash_kib;
        std::uint16_t ram_kib;
    };
    for (const Case& c : {Case{"f103c6", 0x412, 32, 10}, Case{"f103c8", 0x410, 64, 20},
                          Case{"f103cb", 0x410, 128, 20}, Case{"f103rc", 0x414, 256, 64},
                          Case{"f103rd", 0x414, 384, 64}, Case{"F103RE", 0x414, 512, 64},
                          Case{"f100rb", 0x420, 128, 8}}) {
        SCOPED_TRACE(c.name);
        Target target(bootloader_config(c.name));
        talk(target, {0x7F});
        EXPECT_EQ(talk(target, command(0x02)),
                  (Bytes{ack, 0x01, static_cast<std::uint8_t>(c.pid >> 8),
                         static_cast<std::uint8_t>(c.pid), ack}));
        talk(target, command(0x11) + address_frame(id_block_address));
        const Bytes block = talk(target, {21, static_cast<std::uint8_t>(~21)});
        ASSERT_EQ(block.size(), 23u);
        EXPECT_EQ(block[0], ack);
        EXPECT_EQ(block[1] | block[2] << 8, c.flash_kib);
        EXPECT_EQ(block[3] | block[4] << 8, c.ram_kib);
        const auto uid = target.unique_id();
        EXPECT_EQ(Bytes(block.begin() + 9, block.begin() + 21), Bytes(uid.begin(), uid.end()));
        const auto product = find_product(c.pid, c.flash_kib);
        ASSERT_TRUE(product);
        EXPECT_EQ(product->page_bytes, c.flash_kib > 128 ? 2048u : 1024u);
    }
    EXPECT_FALSE(find_product("f999zz"));
}

TEST(UniqueId, SeededStableAndDistinct) {
    TargetConfig a = bootloader_config();
    a.seed = 7;
    TargetConfig b = a;
    b.seed = 8;
    EXPECT_EQ(Target(a).unique_id(), Target(a).unique_id());
    EXPECT_NE(Target(a).unique_id(), Target(b).unique_id());
}

TEST_F(Protocol, BadComplementAndUnknownCommandsNackAndTheMachineRecovers) {
    EXPECT_EQ(talk(target, {0x01, 0xFF}), Bytes{nack});
    EXPECT_EQ(talk(target, command(0x44)), Bytes{nack}) << "no Extended Erase on an F1";
    EXPECT_EQ(talk(target, command(0x5A)), Bytes{nack});
    EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, 0x22, 0x00, 0x00, ack}));
}

TEST_F(Protocol, ReadMemorySendsDataAfterTheLengthAck) {
    const Bytes image{1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(target.load_flash(flash_base + 0x100, image));
    EXPECT_EQ(talk(target, command(0x11)), Bytes{ack});
    EXPECT_EQ(talk(target, address_frame(flash_base + 0x100)), Bytes{ack});
    EXPECT_EQ(talk(target, {0x07, 0xF8}), (Bytes{ack} + image));
    // 256 bytes, the largest read, reaching the last byte of flash.
    talk(target, command(0x11) + address_frame(flash_base + 64 * 1024 - 256));
    EXPECT_EQ(talk(target, {0xFF, 0x00}).size(), 257u);
}

TEST_F(Protocol, ReadMemoryRefusesBadChecksumsAndUnmappedAddresses) {
    Bytes bad = address_frame(flash_base);
    bad.back() ^= 1;
    EXPECT_EQ(talk(target, command(0x11) + bad), (Bytes{ack, nack}));
    for (std::uint32_t address :
         {0x0000'0000u, flash_base + 64 * 1024, 0x2000'5000u, 0x4001'3800u, 0x1FFF'EFFFu}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(talk(target, command(0x11) + address_frame(address)), (Bytes{ack, nack}));
    }
    EXPECT_EQ(talk(target, command(0x11) + address_frame(flash_base) + Bytes{0x0F, 0x0F}),
              (Bytes{ack, ack, nack}))
        << "length and complement disagree";
    EXPECT_EQ(
        talk(target, command(0x11) + address_frame(flash_base + 64 * 1024 - 4) + Bytes{0x07, 0xF8}),
        (Bytes{ack, ack, nack}))
        << "range runs past the end of flash";
    // RAM, system memory and option bytes are readable.
    for (std::uint32_t address :
         {ram_base, 0x2000'4FFFu, system_memory_base, option_bytes_address}) {
        SCOPED_TRACE(address);
        EXPECT_EQ(talk(target, command(0x11) + address_frame(address) + Bytes{0x00, 0xFF}).size(),
                  4u);
    }
    talk(target, command(0x11) + address_frame(option_bytes_address));
    EXPECT_EQ(talk(target, {0x0F, 0xF0}),
              (Bytes{ack, 0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00,
                     0xFF, 0x00, 0xFF, 0x00}));
}

TEST_F(Protocol, WriteMemoryToRamAndFlash) {
    const Bytes data{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    EXPECT_EQ(talk(target, command(0x31)), Bytes{ack});
    EXPECT_EQ(talk(target, address_frame(flash_base + 0x400)), Bytes{ack});
    EXPECT_EQ(talk(target, block(data)), Bytes{ack});
    EXPECT_EQ(target.read_memory(flash_base + 0x400, 8), data);

    EXPECT_EQ(talk(target, command(0x31) + address_frame(ram_base + 0x1000) + block({1, 2, 3})),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(ram_base + 0x1000, 3), (Bytes{1, 2, 3})) << "RAM takes any length";
}

TEST_F(Protocol, WriteMemoryRefusals) {
    Bytes bad_data = block({1, 2, 3, 4});
    bad_data.back() ^= 0x80;
    EXPECT_EQ(talk(target, command(0x31) + address_frame(flash_base) + bad_data),
              (Bytes{ack, ack, nack}));
    EXPECT_EQ(target.read_memory(flash_base, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(talk(target, command(0x31) + address_frame(ram_base)), (Bytes{ack, nack}))
        << "the bootloader's own RAM";
    EXPECT_EQ(talk(target, command(0x31) + address_frame(system_memory_base)), (Bytes{ack, nack}));
    EXPECT_EQ(talk(target, command(0x31) + address_frame(flash_base + 1)), (Bytes{ack, nack}))
        << "flash is programmed in half-words";
    EXPECT_EQ(talk(target, command(0x31) + address_frame(flash_base + 64 * 1024 - 4) +
                               block({1, 2, 3, 4, 5, 6, 7, 8})),
              (Bytes{ack, ack, nack}))
        << "data runs past the end of flash";
    EXPECT_EQ(target.read_memory(flash_base + 64 * 1024 - 4, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Protocol, GoAcksTwiceAndLeavesTheBootloader) {
    EXPECT_EQ(talk(target, command(0x21) + address_frame(0x4000'0000)), (Bytes{ack, nack}));
    EXPECT_EQ(target.mode(), Mode::bootloader);
    EXPECT_EQ(talk(target, command(0x21) + address_frame(flash_base)), (Bytes{ack, ack}));
    EXPECT_EQ(target.mode(), Mode::application);
    EXPECT_EQ(talk(target, Bytes{0x7F} + command(0x01)), Bytes{}) << "the bootloader has gone";
}

TEST_F(Protocol, MassEraseWithFF00) {
    target.load_flash(flash_base, Bytes(4096, 0x00));
    EXPECT_EQ(talk(target, command(0x43)), Bytes{ack});
    EXPECT_EQ(talk(target, {0xFF, 0x01}), Bytes{nack}) << "global erase checksum is 0x00";
    EXPECT_EQ(target.flash()[0], 0x00);
    EXPECT_EQ(talk(target, command(0x43) + Bytes{0xFF, 0x00}), (Bytes{ack, ack}));
    EXPECT_EQ(target.flash(), Bytes(64 * 1024, 0xFF));
}

TEST_F(Protocol, PageListEraseErasesExactlyTheListedPages) {
    target.load_flash(flash_base, Bytes(8 * 1024, 0x00));
    EXPECT_EQ(talk(target, command(0x43) + block({1, 3})), (Bytes{ack, ack}));
    const Bytes flash = target.flash();
    for (std::uint32_t page = 0; page < 8; ++page) {
        SCOPED_TRACE(page);
        const std::uint8_t expected = (page == 1 || page == 3) ? 0xFF : 0x00;
        EXPECT_EQ(flash[page * 1024], expected);
        EXPECT_EQ(flash[page * 1024 + 1023], expected);
    }
    Bytes bad = block({0});
    bad.back() ^= 1;
    EXPECT_EQ(talk(target, command(0x43) + bad), (Bytes{ack, nack}));
    EXPECT_EQ(talk(target, command(0x43) + block({0, 64})), (Bytes{ack, nack}))
        << "page 64 is past a 64 KiB flash";
    EXPECT_EQ(target.flash()[0], 0x00) << "a refused list erases nothing";
}

TEST(HighDensity, PagesAreTwoKibibytes) {
    Target target(bootloader_config("f103re"));
    talk(target, {0x7F});
    target.load_flash(flash_base, Bytes(8 * 1024, 0x00));
    EXPECT_EQ(talk(target, command(0x43) + block({1, 255})), (Bytes{ack, ack}));
    const Bytes flash = target.flash();
    EXPECT_EQ(flash[2047], 0x00);
    EXPECT_EQ(flash[2048], 0xFF);
    EXPECT_EQ(flash[4095], 0xFF);
    EXPECT_EQ(flash[4096], 0x00);
}

TEST_F(Protocol, CommandsAreLoggedWithAddressLengthAndVerdict) {
    target.clear_commands();
    talk(target, command(0x11) + address_frame(flash_base + 0x10) + Bytes{0x0F, 0xF0});
    talk(target, command(0x43) + block({2, 3}));
    talk(target, command(0x11) + address_frame(0x6000'0000));
    const auto log = target.commands();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].command, 0x11);
    EXPECT_EQ(log[0].address, flash_base + 0x10);
    EXPECT_EQ(log[0].length, 16u);
    EXPECT_TRUE(log[0].acknowledged);
    EXPECT_EQ(log[0].text, "Read Memory 0x08000010 16 bytes: ACK");
    EXPECT_EQ(log[1].text, "Erase 0x08000800 2 pages: ACK");
    EXPECT_FALSE(log[2].acknowledged);
    EXPECT_EQ(log[2].text, "Read Memory 0x60000000: NACK (address not readable)");
}

}  // namespace
}  // namespace stm32sim::test

namespace stm32sim::test {
namespace {

// Seeded garbage, biased towards valid command codes so that it reaches the
// deeper states (addresses at the ends of areas, long page and sector lists).
TEST(Robustness, RandomInputLeavesAWorkingMachine) {
    for (const char* product : {"f103c6", "f103re"}) {
        SCOPED_TRACE(product);
        Target target(bootloader_config(product));
        std::uint64_t state = 42;
        auto next = [&] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<std::uint8_t>(state >> 56);
        };
        const Bytes codes{0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x43, 0x63, 0x73, 0x82, 0x92, 0x7F};
        for (int i = 0; i < 20'000; ++i) {
            const std::uint8_t pick = next();
            if (pick < 64) {
                const std::uint8_t code = codes[pick % codes.size()];
                talk(target, {code, static_cast<std::uint8_t>(code ^ 0xFF)});
            } else if (pick < 80) {
                talk(target, address_frame(static_cast<std::uint32_t>(next()) << 24 |
                                           static_cast<std::uint32_t>(next()) << 8 | next()));
            } else {
                talk(target, {next()});
            }
            if (pick == 255) {
                target.reset();
            }
        }
        EXPECT_EQ(target.flash().size(), target.product().flash_bytes);
        target.reset();
        talk(target, {0x7F});
        talk(target, command(0x92));  // whatever the protection, start clean
        target.reset();
        EXPECT_EQ(talk(target, Bytes{0x7F} + command(0x01)),
                  (Bytes{ack, ack, 0x22, 0x00, 0x00, ack}));
    }
}

}  // namespace
}  // namespace stm32sim::test
