// The STM32 device table: the shipped rows agree with themselves and with
// what the bootloader protocol allows, bad files are refused with the row
// and field named, and lookups find what the bootloader reports.
#include "device_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <fstream>
#include <map>
#include <numeric>
#include <set>

namespace isp_test {
namespace {

using isp::DeviceInfo;
using isp::DeviceTable;
using isp::EraseCommand;

const DeviceTable& shipped() {
    const DeviceTable& table = DeviceTable::builtin();
    EXPECT_EQ(DeviceTable::builtinProblem(), "");
    return table;
}

std::uint64_t flashBytes(const DeviceInfo& d) {
    std::uint64_t total = 0;
    for (const auto& bank : d.banks) {
        total = std::accumulate(bank.unitSizes.begin(), bank.unitSizes.end(), total);
    }
    return total;
}

bool inside(std::uint64_t address, std::uint64_t length, std::uint64_t base, std::uint64_t size) {
    return address >= base && address + length <= base + size;
}

TEST(DeviceTableRows, EveryRowIsConsistent) {
    const auto& rows = shipped().rows();
    ASSERT_FALSE(rows.empty());
    std::set<std::uint16_t> ids;
    for (const DeviceInfo& d : rows) {
        SCOPED_TRACE(d.name);
        EXPECT_TRUE(ids.insert(d.productId).second) << "product ID listed twice";
        EXPECT_EQ(d.productId & 0xF00, 0x400) << "STM32 product IDs are 0x4xx";
        EXPECT_EQ(d.flashBase, 0x0800'0000u);
        EXPECT_EQ(flashBytes(d), d.flashSizeMax) << "units add up to the flash size";
        ASSERT_FALSE(d.banks.empty());
        EXPECT_EQ(d.banks.front().base, d.flashBase);
        std::uint64_t end = d.flashBase;
        for (const auto& bank : d.banks) {
            EXPECT_GE(bank.base, end) << "banks do not overlap";
            std::uint64_t at = bank.base;
            for (std::uint32_t size : bank.unitSizes) {
                EXPECT_TRUE(std::has_single_bit(size)) << "unit of " << size << " bytes";
                EXPECT_EQ(at % size, 0u) << "units lie on their own size";
                EXPECT_EQ(size % d.writeUnit, 0u);
                at += size;
            }
            end = at;
        }
        EXPECT_TRUE(std::has_single_bit(d.writeUnit));
        EXPECT_GE(d.writeUnit, 2u);
        EXPECT_LE(d.writeUnit, 32u);
        // Identification words lie outside flash and RAM, and apart.
        for (std::uint32_t address : {d.flashSizeAddr, d.uidAddr, d.optionBytesAddr}) {
            EXPECT_FALSE(inside(address, 1, d.flashBase, d.flashSizeMax)) << std::hex << address;
            EXPECT_FALSE(inside(address, 1, 0x2000'0000, d.ramSize)) << std::hex << address;
        }
        EXPECT_FALSE(inside(d.flashSizeAddr, 2, d.uidAddr, 12)) << "size word inside the UID";
        EXPECT_EQ(d.uidAddr % 4, 0u);
        EXPECT_EQ(d.flashSizeAddr % 2, 0u);
        EXPECT_GT(d.ramSize, 0u);
        EXPECT_LT(d.bootloaderRamReserved, d.ramSize);
        EXPECT_GT(d.optionBytesSize, 0u);
        EXPECT_NE(d.source.find("AN2606"), std::string::npos) << "every row names its source";
        // The old Erase numbers pages in one byte: only the v2.x F1 loaders keep it.
        EXPECT_EQ(d.erase == EraseCommand::kErase, d.family == "F1");
        const bool sectorFamily =
            d.family == "F2" || d.family == "F4" || d.family == "F7" || d.family == "H7";
        EXPECT_EQ(d.sectors, sectorFamily);
    }
}

TEST(DeviceTableRows, CoversEveryFamilyAndTheF1Lines) {
    std::set<std::string> families;
    for (const DeviceInfo& d : shipped().rows()) {
        families.insert(d.family);
    }
    for (const char* family :
         {"F0", "F1", "F2", "F3", "F4", "F7", "G0", "G4", "H7", "L0", "L1", "L4", "WB"}) {
        EXPECT_TRUE(families.contains(family)) << family;
    }
    // Low, medium, high density, connectivity line, both value lines, XL.
    for (int id : {0x412, 0x410, 0x414, 0x418, 0x420, 0x428, 0x430}) {
        const DeviceInfo* d = shipped().find(static_cast<std::uint16_t>(id));
        ASSERT_NE(d, nullptr) << std::hex << id;
        EXPECT_EQ(d->family, "F1");
        EXPECT_EQ(d->flashSizeAddr, 0x1FFF'F7E0u);
        EXPECT_EQ(d->uidAddr, 0x1FFF'F7E8u);
    }
}

TEST(DeviceTableLookup, FindsWhatTheBootloaderReports) {
    const DeviceInfo* f4 = shipped().find(0x413);
    ASSERT_NE(f4, nullptr);
    EXPECT_NE(f4->name.find("F407"), std::string::npos);
    EXPECT_EQ(f4->flashSizeAddr, 0x1FFF'7A22u);
    EXPECT_EQ(f4->uidAddr, 0x1FFF'7A10u);
    EXPECT_EQ(f4->erase, EraseCommand::kExtendedErase);
    const DeviceInfo* h7 = shipped().find(0x450);
    ASSERT_NE(h7, nullptr);
    EXPECT_EQ(h7->writeUnit, 32u);
    EXPECT_EQ(h7->banks.size(), 2u);
    EXPECT_EQ(h7->banks[1].base, 0x0810'0000u);
    EXPECT_EQ(shipped().find(0x999), nullptr);
    EXPECT_EQ(shipped().find(0x000), nullptr);
}

TEST(DeviceTableLookup, EraseUnitsForASmallerPartAreTheLeadingUnitsThatFit) {
    struct Case {
        std::uint16_t id;
        std::uint32_t flash;
        std::size_t count;
        std::uint32_t last;
    };
    for (const Case& c : {
             Case{0x413, 1024 * 1024, 12, 128 * 1024},  // F407VG: all sectors
             Case{0x413, 512 * 1024, 8, 128 * 1024},    // F405RE
             Case{0x413, 100 * 1024, 4, 16 * 1024},     // a partial sector does not fit
             Case{0x410, 64 * 1024, 64, 1024},          // F103C8 in a 128 KB row
             Case{0x415, 1024 * 1024, 512, 2048},       // both L4 banks
             Case{0x419, 2048 * 1024, 24, 128 * 1024},  // both F429 banks
             Case{0x413, 4096 * 1024, 12, 128 * 1024},  // more than the row knows
         }) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id << " " << std::dec << c.flash);
        const DeviceInfo* d = shipped().find(c.id);
        ASSERT_NE(d, nullptr);
        const auto units = isp::eraseUnitsFor(*d, c.flash);
        ASSERT_EQ(units.size(), c.count);
        EXPECT_EQ(units.back(), c.last);
        EXPECT_LE(std::accumulate(units.begin(), units.end(), std::uint64_t{0}), c.flash);
    }
    EXPECT_TRUE(isp::eraseUnitsFor(*shipped().find(0x413), 0).empty());
}

// A good one-row file, with one field replaced per case.
std::string rowWith(const std::string& field, const std::string& value) {
    std::map<std::string, std::string> fields{
        {"productId", R"("0x410")"},
        {"name", R"("STM32F10xxx medium-density")"},
        {"family", R"("F1")"},
        {"flashBase", R"("0x08000000")"},
        {"flashSize", R"("8K")"},
        {"flashSizeAddr", R"("0x1FFFF7E0")"},
        {"uidAddr", R"("0x1FFFF7E8")"},
        {"eraseUnit", R"("page")"},
        {"banks", R"([{"base": "0x08000000", "units": "8x1K"}])"},
        {"writeUnit", "2"},
        {"ramSize", R"("20K")"},
        {"bootloaderRam", "512"},
        {"optionBytes", R"({"address": "0x1FFFF800", "size": 16})"},
        {"eraseCommand", R"("0x43")"},
        {"source", R"("AN2606")"},
    };
    if (value.empty()) {
        fields.erase(field);
    } else {
        fields[field] = value;
    }
    std::string row = "{";
    for (const auto& [name, text] : fields) {
        row += (row.size() > 1 ? ", \"" : "\"") + name + "\": " + text;
    }
    return row + "}";
}

class TableFile {
  public:
    explicit TableFile(const std::string& text) {
        char name[] = "/tmp/chipload-devices-XXXXXX";
        const int fd = ::mkstemp(name);
        path_ = name;
        ::close(fd);
        std::ofstream(path_) << text;
    }
    ~TableFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

TEST(DeviceTableLoad, AGoodFileLoadsItsRows) {
    const TableFile file(R"({"devices": [)" + rowWith("source", R"("AN2606 section 20")") + "]}");
    std::string error;
    const auto table = DeviceTable::load(file.path(), &error);
    ASSERT_TRUE(table) << error;
    ASSERT_EQ(table->rows().size(), 1u);
    const DeviceInfo& d = table->rows()[0];
    EXPECT_EQ(d.productId, 0x410);
    EXPECT_EQ(d.flashSizeMax, 8192u);
    EXPECT_EQ(d.banks[0].unitSizes, std::vector<std::uint32_t>(8, 1024));
    EXPECT_EQ(d.bootloaderRamReserved, 512u);
    EXPECT_EQ(d.erase, EraseCommand::kErase);
    EXPECT_EQ(d.source, "AN2606 section 20");
    EXPECT_EQ(d.erasedByte, 0xFF);  // when the row does not say

    const TableFile zeroErased(R"({"devices": [)" + rowWith("erasedValue", R"("0x00")") + "]}");
    const auto l0Like = DeviceTable::load(zeroErased.path(), &error);
    ASSERT_TRUE(l0Like) << error;
    EXPECT_EQ(l0Like->rows()[0].erasedByte, 0x00);
}

TEST(DeviceTableLoad, BadFilesNameTheRowAndTheFault) {
    struct Case {
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"", "not valid JSON"},
        {"{\"devices\": [", "not valid JSON"},
        {"[]", "'devices' list"},
        {R"({"devices": {}})", "'devices' list"},
        {R"({"devices": []})", "list is empty"},
        {R"({"devices": [7]})", "row 1: expected an object"},
        {R"({"devices": [)" + rowWith("productId", "") + "]}",
         "row 1: field 'productId' is missing"},
        {R"({"devices": [)" + rowWith("productId", R"("0x1410")") + "]}", "12 bits"},
        {R"({"devices": [)" + rowWith("flashBase", R"("0x0800G000")") + "]}",
         "row 1 (0x410): field 'flashBase': '0x0800G000' is not a number"},
        {R"({"devices": [)" + rowWith("flashBase", "-1") + "]}",
         "field 'flashBase': expected a number"},
        {R"({"devices": [)" + rowWith("flashSize", R"("8192M")") + "]}", "too large"},
        {R"({"devices": [)" + rowWith("flashSize", R"("16K")") + "]}",
         "units add up to 8192 bytes, not the flash size 16384"},
        {R"({"devices": [)" + rowWith("name", R"("")") + "]}",
         "field 'name': expected a non-empty string"},
        {R"({"devices": [)" + rowWith("eraseUnit", R"("block")") + "]}",
         "expected \"page\" or \"sector\""},
        {R"({"devices": [)" + rowWith("banks", "[]") + "]}", "one or two banks"},
        {R"({"devices": [)" + rowWith("banks", R"([{"base": "0x08000000", "units": "8*1K"}])") +
             "]}",
         "'8*1K' is not COUNTxSIZE"},
        {R"({"devices": [)" +
             rowWith("banks", R"([{"base": "0x08000000", "units": "0x1K,8x1K"}])") + "]}",
         "holds no flash"},
        {R"({"devices": [)" +
             rowWith(
                 "banks",
                 R"([{"base": "0x08000000", "units": "4x1K"}, {"base": "0x08000800", "units": "4x1K"}])") +
             "]}",
         "starts inside the one before it"},
        {R"({"devices": [)" + rowWith("writeUnit", "6") + "]}", "power of two"},
        {R"({"devices": [)" + rowWith("bootloaderRam", R"("21K")") + "]}",
         "more than the RAM size"},
        {R"({"devices": [)" + rowWith("optionBytes", "16") + "]}", "field 'optionBytes'"},
        {R"({"devices": [)" + rowWith("eraseCommand", R"("0x45")") + "]}", "\"0x43\" or \"0x44\""},
        {R"({"devices": [)" + rowWith("erasedValue", R"("0x55")") + "]}", "\"0x00\" or \"0xFF\""},
        {R"({"devices": [)" + rowWith("source", "") + "]}", "field 'source' is missing"},
        {R"({"devices": [)" + rowWith("name", R"("first")") + "," + rowWith("name", R"("again")") +
             "]}",
         "row 2 (0x410): product ID 0x410 appears twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const TableFile file(c.text);
        std::string error;
        EXPECT_FALSE(DeviceTable::load(file.path(), &error));
        EXPECT_NE(error.find(file.path() + ": "), std::string::npos) << error;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
}

TEST(DeviceTableLoad, AMissingFileSaysSo) {
    std::string error;
    EXPECT_FALSE(DeviceTable::load("/nonexistent/stm32_devices.json", &error));
    EXPECT_EQ(error, "/nonexistent/stm32_devices.json: cannot open: No such file or directory");
}

}  // namespace
}  // namespace isp_test
