// The host's device table and the simulator's products are written apart
// from the public documents; wherever both describe a part they must agree,
// or one of them is wrong.
#include <gtest/gtest.h>

#include "device_table.h"
#include "stm32sim/target.hpp"

namespace isp_test {
namespace {

std::vector<std::uint32_t> simulatedUnits(const stm32sim::Product& product) {
    if (product.uniform_pages()) {
        return std::vector<std::uint32_t>(product.page_count(), product.page_bytes);
    }
    std::vector<std::uint32_t> units;
    for (const stm32sim::UnitRun& run : product.sectors) {
        units.insert(units.end(), run.count, run.bytes);
    }
    return units;
}

TEST(DeviceTableAndSimulator, AgreeOnEverySimulatedPart) {
    const isp::DeviceTable& table = isp::DeviceTable::builtin();
    ASSERT_EQ(isp::DeviceTable::builtinProblem(), "");
    for (const stm32sim::Product& product : stm32sim::all_products()) {
        SCOPED_TRACE(std::string(product.name));
        const isp::DeviceInfo* row = table.find(product.pid);
        ASSERT_NE(row, nullptr);
        const stm32sim::Family& family = *product.family;
        EXPECT_EQ(row->family, family.name);
        EXPECT_EQ(row->flashSizeAddr, family.flash_size_address);
        EXPECT_EQ(row->uidAddr, family.unique_id_address);
        EXPECT_EQ(row->writeUnit, family.write_unit);
        EXPECT_EQ(row->erasedByte, family.erased_byte);
        EXPECT_EQ(row->bootloaderRamReserved, family.bootloader_ram_bytes);
        EXPECT_EQ(row->optionBytesAddr, family.option_bytes_address);
        EXPECT_EQ(row->erase == isp::EraseCommand::kExtendedErase, family.extended_erase());
        EXPECT_EQ(row->sectors, !product.uniform_pages());
        EXPECT_LE(product.flash_bytes, row->flashSizeMax);
        EXPECT_LE(product.ram_bytes, row->ramSize);
        EXPECT_EQ(isp::eraseUnitsFor(*row, product.flash_bytes), simulatedUnits(product));
        if (product.flash_bytes == row->flashSizeMax) {
            EXPECT_EQ(row->banks.size(), product.banks);
        }

        // The host reads the words where its table says; the part has them there.
        stm32sim::Target target({.product = product});
        const auto size = target.read_memory(row->flashSizeAddr, 2);
        ASSERT_TRUE(size);
        EXPECT_EQ((*size)[0] | (*size)[1] << 8, product.flash_bytes / 1024);
        const auto uid = target.unique_id();
        EXPECT_EQ(target.read_memory(row->uidAddr, 12),
                  std::vector<std::uint8_t>(uid.begin(), uid.end()));
    }
}

}  // namespace
}  // namespace isp_test
