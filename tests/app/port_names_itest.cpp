// The COM number's device shows in a text control of its own, and the
// adapter list offers every COM number that stands for a device; choosing an
// adapter chooses its COM number.
#include <gtest/gtest.h>

#include "ChipLoad.h"
#include "app_harness.h"
#include "port_map.h"
#include "wait_for.h"

namespace app_test {
namespace {

std::string Text(int panel, int control) {
    char text[512];
    EXPECT_EQ(GetCtrlVal(panel, control, text, sizeof text), RTE_OK);
    return text;
}

int Number(int panel, int control) {
    int value = 0;
    EXPECT_EQ(GetCtrlVal(panel, control, &value), RTE_OK);
    return value;
}

TEST(PortNames, TheDeviceFieldAndTheAdapterListFollowTheComNumber) {
    chipload::portmap::clearAssignments();
    ASSERT_TRUE(chipload::portmap::assign(3, "/dev/ttyUSB7"));
    ASSERT_TRUE(chipload::portmap::assign(4, "rfc2217://localhost:2217"));
    {
        apptest::AppHarness app;
        const int main = app.panels().main;
        const auto hasItem = [main](const std::string& label, int value) {
            const auto ring = rte::Control(main, PANEL_ADAPTER);
            for (const auto& item : ring->items) {
                if (item.label == label && item.value == value) {
                    return true;
                }
            }
            return false;
        };
        // The list is filled once the program has started its port names.
        EXPECT_TRUE(test_support::WaitFor([&] { return hasItem("COM3  /dev/ttyUSB7", 3); }));
        EXPECT_TRUE(hasItem("COM4  rfc2217://localhost:2217", 4));

        struct Case {
            int com;
            std::string device;
        };
        const Case cases[] = {
            {3, "/dev/ttyUSB7"},
            {4, "rfc2217://localhost:2217"},
            {3, "/dev/ttyUSB7"},
        };
        for (const Case& c : cases) {
            app.commit(main, PANEL_COMPORT, c.com);
            EXPECT_EQ(Text(main, PANEL_COMDEVICE), c.device) << "COM" << c.com;
            EXPECT_EQ(Number(main, PANEL_ADAPTER), c.com) << "the list shows the chosen COM";
        }
        // The caption is the panel file's, whatever the device's name.
        char caption[128];
        GetCtrlAttribute(main, PANEL_COMPORT, ATTR_LABEL_TEXT, caption, sizeof caption);
        EXPECT_STREQ(caption, "串口号 (COM)");

        // Choosing the adapter chooses its COM number, for connect and the terminal.
        app.commit(main, PANEL_ADAPTER, 4);
        EXPECT_EQ(Number(main, PANEL_COMPORT), 4);
        EXPECT_EQ(Text(main, PANEL_COMDEVICE), "rfc2217://localhost:2217");

        // A COM number standing for nothing says so (unless this machine has
        // ten serial ports of its own).
        app.commit(main, PANEL_COMPORT, 10);
        if (chipload::portmap::resolve(10).empty()) {
            EXPECT_EQ(Text(main, PANEL_COMDEVICE), "无设备");
        }
    }
    chipload::portmap::clearAssignments();
}

}  // namespace
}  // namespace app_test
