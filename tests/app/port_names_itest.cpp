// The COM number's caption names the device it stands for, following the
// number the operator chooses.
#include <gtest/gtest.h>

#include "ChipLoad.h"
#include "app_harness.h"
#include "port_map.h"

namespace app_test {
namespace {

std::string Caption(int panel) {
    char text[512];
    EXPECT_EQ(GetCtrlAttribute(panel, PANEL_COMPORT, ATTR_LABEL_TEXT, text, sizeof text), RTE_OK);
    return text;
}

TEST(PortNames, TheCaptionNamesTheChosenComsDevice) {
    chipload::portmap::clearAssignments();
    ASSERT_TRUE(chipload::portmap::assign(3, "/dev/ttyUSB7"));
    ASSERT_TRUE(chipload::portmap::assign(4, "rfc2217://localhost:2217"));
    {
        apptest::AppHarness app;
        const int main = app.panels().main;
        struct Case {
            int com;
            std::string caption;
        };
        const Case cases[] = {
            {3, "串口号 (COM) = /dev/ttyUSB7"},
            {4, "串口号 (COM) = rfc2217://localhost:2217"},
            {3, "串口号 (COM) = /dev/ttyUSB7"},
        };
        for (const Case& c : cases) {
            app.commit(main, PANEL_COMPORT, c.com);
            EXPECT_EQ(Caption(main), c.caption) << "COM" << c.com;
        }
        // A COM number standing for nothing says so (unless this machine has
        // ten serial ports of its own).
        app.commit(main, PANEL_COMPORT, 10);
        if (chipload::portmap::resolve(10).empty()) {
            EXPECT_EQ(Caption(main), "串口号 (COM) = 无设备");
        }
    }
    chipload::portmap::clearAssignments();
}

}  // namespace
}  // namespace app_test
