// Protected chips through the client on the simulator: read protection is
// told apart from a dead line, lifting it erases and the session goes on,
// and the option bytes decode per family from the device table.
#include <gtest/gtest.h>

#include "client.h"
#include "device_table.h"
#include "option_bytes.h"
#include "read_protection.h"
#include "sim_link.h"

namespace isp_test {
namespace {

constexpr std::uint32_t kFlash = 0x0800'0000;

struct Family {
    const char* product;
    std::uint8_t group;  // a write-protection group
    std::uint32_t inGroup;
};

const Family families[] = {{"f103c8", 2, 8192}, {"f407vg", 5, 0x2'0000}, {"g071rb", 3, 3 * 2048}};

class Protection : public ::testing::TestWithParam<Family> {
  protected:
    stm32sim::TargetConfig config() const {
        stm32sim::TargetConfig c;
        c.product = *stm32sim::find_product(GetParam().product);
        c.start = stm32sim::StartMode::bootloader;
        c.boot0 = stm32sim::Boot0Polarity::tied_high;  // the reset comes back to the bootloader
        return c;
    }
    isp::OptionBytes options(isp::Client& client) {
        const auto id = client.getId();
        EXPECT_TRUE(id);
        const isp::DeviceInfo* device = isp::DeviceTable::builtin().find(id.value());
        EXPECT_NE(device, nullptr);
        auto block = client.readMemory(device->optionBytesAddr, device->optionBytesSize);
        EXPECT_TRUE(block);
        auto decoded = isp::decodeOptionBytes(*device, block.value());
        EXPECT_TRUE(decoded) << "no layout for " << device->family;
        return decoded.value_or(isp::OptionBytes{});
    }
    ManualClock clock;
};

TEST_P(Protection, ReadProtectionIsReportedAndLiftingItErasesAndResynchronises) {
    stm32sim::TargetConfig c = config();
    c.read_protected = true;
    stm32sim::Target chip(c);
    chip.load_flash(kFlash, isp::Bytes(64, 0x42));
    isp::Client client(std::make_unique<SimLink>(chip, clock), {}, &clock);
    ASSERT_TRUE(client.synchronize());
    const auto access = isp::probeReadAccess(client, kFlash);
    ASSERT_TRUE(access);
    EXPECT_EQ(access.value(), isp::ReadAccess::kReadProtected);

    ASSERT_TRUE(client.readoutUnprotect());
    EXPECT_EQ(isp::probeReadAccess(client, kFlash).value(), isp::ReadAccess::kOpen);
    EXPECT_EQ(client.readMemory(kFlash, 64).value(), isp::Bytes(64, 0xFF));
    EXPECT_EQ(options(client).readProtectionLevel, 0);
    ASSERT_TRUE(client.writeMemory(kFlash, isp::Bytes(16, 0x5A)));
    EXPECT_EQ(client.readMemory(kFlash, 16).value(), isp::Bytes(16, 0x5A));

    ASSERT_TRUE(client.readoutProtect());
    EXPECT_EQ(isp::probeReadAccess(client, kFlash).value(), isp::ReadAccess::kReadProtected);
}

TEST_P(Protection, WriteProtectionShowsInTheOptionBytesUntilLifted) {
    stm32sim::Target chip(config());
    isp::Client client(std::make_unique<SimLink>(chip, clock), {}, &clock);
    ASSERT_TRUE(client.synchronize());
    EXPECT_TRUE(options(client).protectedGroups.empty());

    const std::uint8_t group = GetParam().group;
    ASSERT_TRUE(client.writeProtect(std::span(&group, 1)));
    const isp::OptionBytes protectedNow = options(client);
    EXPECT_EQ(protectedNow.protectedGroups, std::vector<std::uint32_t>{group});
    // The group starts at inGroup: a range ending just before it touches no
    // protected group, one reaching a byte into it does.
    const isp::DeviceInfo& device = *isp::DeviceTable::builtin().find(client.getId().value());
    const std::uint32_t start = GetParam().inGroup;
    const auto in = [&](std::uint32_t offset, std::uint32_t length) {
        return isp::protectedGroupsIn(device, protectedNow, device.flashSizeMax, offset, length);
    };
    EXPECT_TRUE(in(0, start).empty());
    EXPECT_EQ(in(start - 1, 2), std::vector<std::uint32_t>{group});
    EXPECT_EQ(isp::protectionGroupOf(device, device.flashSizeMax, start), group);
    EXPECT_EQ(isp::protectionGroupOf(device, device.flashSizeMax, device.flashSizeMax),
              std::nullopt);
    ASSERT_TRUE(client.writeMemory(kFlash + GetParam().inGroup, isp::Bytes(8, 0x12)));
    EXPECT_EQ(client.readMemory(kFlash + GetParam().inGroup, 8).value(), isp::Bytes(8, 0xFF))
        << "the bootloader skips protected groups without a NACK";

    ASSERT_TRUE(client.writeUnprotect());
    EXPECT_TRUE(options(client).protectedGroups.empty());
}

TEST(ReadAccess, ASilentLineIsNotReadProtection) {
    stm32sim::TargetConfig c;
    c.start = stm32sim::StartMode::bootloader;
    stm32sim::Target chip(c);
    ManualClock clock;
    auto owned = std::make_unique<SimLink>(chip, clock);
    SimLink* link = owned.get();
    isp::Client client(std::move(owned), {}, &clock);
    ASSERT_TRUE(client.synchronize());
    link->breakLine();
    const auto access = isp::probeReadAccess(client, kFlash);
    ASSERT_FALSE(access);
    EXPECT_NE(access.failure().status, isp::Status::kRefused);
}

// Blocks as the reference manuals lay them out, decoded from the table's rows.
struct Block {
    std::uint16_t productId;
    isp::Bytes bytes;
    int level;
    std::vector<std::uint32_t> groups;
};

TEST(OptionBytes, DecodeTheFamilysLevelAndWriteProtectionBitsOnly) {
    const Block blocks[] = {
        // F1: RDP, USER, data, WRP0..3, each followed by its complement.
        {0x410,
         {0xA5, 0x5A, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFE, 0x01, 0xFF, 0x00, 0xFF, 0x00, 0x7F,
          0x80},
         0,
         {0, 31}},
        // F4: USER, RDP, then nWRP of sectors 0-11; bit 15 (SPRMOD on the
        // later parts) is 0 and protects nothing.
        {0x413, {0xED, 0x00, 0xFF, 0xFF, 0, 0, 0, 0, 0xFB, 0x7F, 0xFF, 0xFF, 0, 0, 0, 0}, 1, {2}},
        // G0: OPTR with RDP first; WRP1A from start page 4 to end page 6.
        {0x460, isp::Bytes(0x20, 0xFF), 2, {4, 5, 6}},
    };
    for (Block b : blocks) {
        SCOPED_TRACE(b.productId);
        const isp::DeviceInfo* device = isp::DeviceTable::builtin().find(b.productId);
        ASSERT_NE(device, nullptr);
        if (b.productId == 0x460) {
            b.bytes[0] = 0xCC;
            b.bytes[0x18] = 0xC4;  // reserved bits above the six of a G07x page number
            b.bytes[0x1A] = 0x06;
        }
        b.bytes.resize(std::max<std::size_t>(b.bytes.size(), device->optionBytesSize), 0xFF);
        const auto decoded = isp::decodeOptionBytes(*device, b.bytes);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->readProtectionLevel, b.level);
        EXPECT_EQ(decoded->protectedGroups, b.groups);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Protection, ::testing::ValuesIn(families),
                         [](const auto& param) { return std::string(param.param.product); });

}  // namespace
}  // namespace isp_test
