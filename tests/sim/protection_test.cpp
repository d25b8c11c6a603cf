// Read and write protection in each family's option-byte layout: the state a
// chip starts in, what the option bytes read back, and which writes survive.
#include <gtest/gtest.h>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

struct Layout {
    const char* product;
    std::uint32_t options;     // option-byte address
    Bytes unprotected;         // first bytes of the block at power-up
    std::uint32_t rdp_at;      // read protection byte
    std::uint32_t group;       // write-protection group to protect
    std::uint32_t in_group;    // a flash offset inside it
    std::uint32_t wrp_at;      // the option byte that shows it
    std::uint8_t wrp;          // its value then
    bool unprotect_lifts_wrp;  // Readout Unprotect also clears write protection
};

const Layout layouts[] = {
    {"f103c8", 0x1FFF'F800, {0xA5, 0x5A, 0xFF, 0x00}, 0, 2, 8192, 8, 0xFB, true},
    {"f407vg", 0x1FFF'C000, {0xFF, 0xAA, 0xFF, 0xFF}, 1, 5, 0x2'0000, 8, 0xDF, false},
    {"g071rb", 0x1FFF'7800, {0xAA, 0xFF, 0xFF, 0xFF}, 0, 3, 3 * 2048, 0x18, 0x03, false},
};

class Protection : public ::testing::TestWithParam<Layout> {};

TEST_P(Protection, OptionBytesShowTheStateAndProtectedGroupsKeepTheirBytes) {
    const Layout& l = GetParam();
    Target target(bootloader_config(l.product));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    const auto block_start = *target.read_memory(l.options, 4);
    EXPECT_EQ(block_start, l.unprotected);

    ASSERT_EQ(talk(target, command(0x63) + block({static_cast<std::uint8_t>(l.group)})),
              (Bytes{ack, ack}));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack}) << "Write Protect resets the chip";
    EXPECT_EQ(target.read_memory(l.options + l.wrp_at, 1), Bytes{l.wrp});
    const std::uint32_t at = flash_base + l.in_group;
    EXPECT_EQ(talk(target, command(0x31) + address_frame(at) + block(Bytes(8, 0x12))),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(at, 8), Bytes(8, 0xFF)) << "protected group skipped";
    EXPECT_EQ(talk(target, command(0x31) + address_frame(flash_base) + block(Bytes(8, 0x34))),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(flash_base, 8), Bytes(8, 0x34)) << "group 0 stays writable";

    ASSERT_EQ(talk(target, command(0x73)), (Bytes{ack, ack}));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_EQ(talk(target, command(0x31) + address_frame(at) + block(Bytes(8, 0x12))),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(at, 8), Bytes(8, 0x12));

    ASSERT_EQ(talk(target, command(0x82)), (Bytes{ack, ack}));
    EXPECT_EQ(target.read_memory(l.options + l.rdp_at, 1), Bytes{0x00}) << "level 1";
    EXPECT_TRUE(target.readout_protected());
}

TEST_P(Protection, StartsInTheConfiguredStateAndUnprotectErasesAndDropsTheSession) {
    const Layout& l = GetParam();
    TargetConfig config = bootloader_config(l.product);
    config.read_protected = true;
    config.write_protected_groups = {l.group};
    Target target(config);
    target.load_flash(flash_base, Bytes(16, 0x42));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_EQ(talk(target, command(0x02)).size(), 5u) << "Get ID answers";
    EXPECT_EQ(talk(target, command(0x11)), Bytes{nack}) << "Read Memory refused";
    EXPECT_EQ(talk(target, command(0x31)), Bytes{nack}) << "Write Memory refused";
    EXPECT_NE(target.write_protection() & (1u << l.group), 1u << l.group);

    EXPECT_EQ(talk(target, command(0x92)), (Bytes{ack, ack}));
    EXPECT_EQ(talk(target, command(0x01)), Bytes{}) << "reset: the session is gone";
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    EXPECT_FALSE(target.readout_protected());
    EXPECT_EQ(target.read_memory(flash_base, 16), Bytes(16, 0xFF)) << "flash mass-erased";
    EXPECT_EQ(target.read_memory(l.options + l.rdp_at, 1), Bytes{l.unprotected[l.rdp_at]});
    EXPECT_EQ(l.unprotect_lifts_wrp, (target.write_protection() & (1u << l.group)) != 0);
}

INSTANTIATE_TEST_SUITE_P(Families, Protection, ::testing::ValuesIn(layouts),
                         [](const auto& param) { return std::string(param.param.product); });

}  // namespace
}  // namespace stm32sim::test
