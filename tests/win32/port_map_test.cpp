// Which device a COM number stands for.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "comm/port_defaults.h"
#include "port_map.h"

namespace fs = std::filesystem;

namespace {

class PortMap : public ::testing::Test {
  protected:
    void SetUp() override {
        chipload::portmap::clearAssignments();
        unsetenv("CHIPLOAD_COM4");
    }
    void TearDown() override { SetUp(); }
};

TEST_F(PortMap, ExplicitAssignmentWinsOverTheEnvironment) {
    setenv("CHIPLOAD_COM4", "/dev/from-env", 1);
    EXPECT_EQ(chipload::portmap::resolve(4), "/dev/from-env");
    ASSERT_TRUE(chipload::portmap::assign(4, "rfc2217://localhost:7000"));
    EXPECT_EQ(chipload::portmap::resolve(4), "rfc2217://localhost:7000");
    chipload::portmap::clearAssignments();
    EXPECT_EQ(chipload::portmap::resolve(4), "/dev/from-env");
    setenv("CHIPLOAD_COM4", "", 1);  // empty counts as unset
    ASSERT_TRUE(chipload::portmap::assign(4, "/dev/ttyUSB7"));
    EXPECT_EQ(chipload::portmap::resolve(4), "/dev/ttyUSB7");
}

TEST_F(PortMap, OnlyComOneToTenWithADeviceCanBeAssigned) {
    EXPECT_FALSE(chipload::portmap::assign(0, "/dev/ttyS0"));
    EXPECT_FALSE(chipload::portmap::assign(11, "/dev/ttyS0"));
    EXPECT_FALSE(chipload::portmap::assign(3, ""));
    EXPECT_TRUE(chipload::portmap::assign(10, "/dev/ttyS0"));
    EXPECT_EQ(chipload::portmap::resolve(10), "/dev/ttyS0");
    EXPECT_EQ(chipload::portmap::resolve(0), "");
    EXPECT_EQ(chipload::portmap::resolve(11), "");
}

TEST(PortDefaults, AdaptersByIdFirstThenBareAdaptersThenUartsWithAChip) {
    const fs::path root =
        fs::temp_directory_path() / ("chipload-ports-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path dev = root / "dev";
    const fs::path sys = root / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0",
                             "ttyS1", "ttyS10", "ttyS2", "tty0", "null"}) {
        std::ofstream(dev / name).put('\n');
    }
    fs::create_symlink("../../ttyUSB1", dev / "serial" / "by-id" / "usb-FTDI_B-if00-port0");
    fs::create_symlink("../../ttyACM0", dev / "serial" / "by-id" / "usb-ARM_A-if00");
    for (const auto& [name, type] : {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS10", "4"}}) {
        fs::create_directories(sys / name);
        std::ofstream(sys / name / "type") << type << '\n';
    }

    const auto devices = chipload::portmap::defaultDevices(dev, sys);
    const std::vector<std::string> expected = {
        (dev / "serial/by-id/usb-ARM_A-if00").string(),
        (dev / "serial/by-id/usb-FTDI_B-if00-port0").string(),
        (dev / "ttyUSB0").string(),
        (dev / "ttyUSB2").string(),
        (dev / "ttyUSB10").string(),
        (dev / "ttyS0").string(),
        (dev / "ttyS10").string(),
    };
    EXPECT_EQ(devices, expected);
    fs::remove_all(root);
    EXPECT_TRUE(chipload::portmap::defaultDevices(dev, sys).empty());
}

}  // namespace
