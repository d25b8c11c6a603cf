// What --list-ports says a COM number stands for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "port_listing.h"
#include "port_map.h"
#include "pty_pair.h"

namespace fs = std::filesystem;

namespace {

void WriteLine(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
}

// A /dev and a /sys/class/tty as the kernel lays them out for a USB-serial
// adapter, a CDC-ACM device and an on-board UART.
class FakeSysfs : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::remove_all(root);
        for (const char* name : {"ttyUSB0", "ttyACM0", "ttyS0", "ttyXRUSB0"}) {
            WriteLine(dev / name, "");
        }
        fs::create_directories(dev / "serial/by-id");
        fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R-if00-port0");

        const fs::path ftdi = devices / "usb1/1-1";
        WriteLine(ftdi / "idVendor", "0403");
        WriteLine(ftdi / "idProduct", "6001");
        WriteLine(ftdi / "manufacturer", "FTDI");
        WriteLine(ftdi / "product", "FT232R USB UART");
        fs::create_directories(ftdi / "1-1:1.0/ttyUSB0");
        const fs::path acm = devices / "usb1/1-2";
        WriteLine(acm / "idVendor", "0483");
        WriteLine(acm / "idProduct", "5740");
        fs::create_directories(acm / "1-2:1.0");
        fs::create_directories(devices / "platform/serial8250");

        link("ttyUSB0", ftdi / "1-1:1.0/ttyUSB0");
        link("ttyACM0", acm / "1-2:1.0");
        link("ttyS0", devices / "platform/serial8250");
    }
    void TearDown() override { fs::remove_all(root); }

    void link(const std::string& tty, const fs::path& device) {
        fs::create_directories(sys / tty);
        fs::create_symlink(device, sys / tty / "device");
    }

    const fs::path root =
        fs::temp_directory_path() / ("chipload-listing-" + std::to_string(getpid()));
    const fs::path dev = root / "dev";
    const fs::path sys = root / "sys/class/tty";
    const fs::path devices = root / "sys/devices";
};

TEST_F(FakeSysfs, EachKindOfDeviceIsNamedAsAnOperatorKnowsIt) {
    const struct {
        std::string device;
        std::string what;
    } cases[] = {
        {(dev / "ttyUSB0").string(), "USB serial adapter 0403:6001 FTDI FT232R USB UART"},
        {(dev / "serial/by-id/usb-FTDI_FT232R-if00-port0").string(),
         "USB serial adapter 0403:6001 FTDI FT232R USB UART on " + (dev / "ttyUSB0").string()},
        {(dev / "ttyACM0").string(), "USB serial adapter 0483:5740"},
        {(dev / "ttyS0").string(), "on-board serial port"},
        {(dev / "ttyXRUSB0").string(), "serial device"},
        {(dev / "ttyUSB9").string(), "not present"},
        {"rfc2217://127.0.0.1:4000", "network port (RFC 2217)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(chipload::portmap::describeDevice(c.device, sys), c.what) << c.device;
    }
    chipload::test::PtyPair pty;
    EXPECT_EQ(chipload::portmap::describeDevice(pty.slavePath(), sys), "pseudo-terminal");
}

class Listing : public ::testing::Test {
  protected:
    void SetUp() override {
        chipload::portmap::clearAssignments();
        unsetenv("CHIPLOAD_COM5");
    }
    void TearDown() override { SetUp(); }
};

TEST_F(Listing, SaysWhatEachComIsAndWhereTheMappingCameFrom) {
    chipload::test::PtyPair pty;
    ASSERT_TRUE(chipload::portmap::assign(2, "rfc2217://127.0.0.1:4000"));
    ASSERT_TRUE(chipload::portmap::assign(10, "/nonexistent/ttyUSB3"));
    setenv("CHIPLOAD_COM5", pty.slavePath().c_str(), 1);

    const std::string text = chipload::portmap::listing();
    for (const std::string& entry : {
             std::string("COM2  rfc2217://127.0.0.1:4000\n"
                         "      network port (RFC 2217); given with --com\n"),
             "COM5  " + pty.slavePath() + "\n      pseudo-terminal; from CHIPLOAD_COM5\n",
             std::string("COM10 /nonexistent/ttyUSB3\n      not present; given with --com\n"),
         }) {
        EXPECT_NE(text.find(entry), std::string::npos) << "missing:\n" << entry << "in:\n" << text;
    }
    EXPECT_LT(text.find("COM2 "), text.find("COM5 "));
    EXPECT_LT(text.find("COM5 "), text.find("COM10 "));
    EXPECT_EQ(chipload::portmap::lookup(5).origin, chipload::portmap::Origin::environment);
}

}  // namespace
