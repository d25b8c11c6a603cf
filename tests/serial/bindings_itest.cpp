// Bound controls following a real port over a pseudo-terminal through open, traffic, the DTR key
// and close, as the operator sees them in the headless front end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "pty_link.h"
#include "serial_engine.h"

namespace {

constexpr int kPort = 6;

enum Ctrl {
    TX_LED = 1,
    RX_LED,
    DTR_LED,
    TX_LEDCOUNT,
    RX_LEDCOUNT,
    SEND_COUNT,
    RECEIVE_COUNT,
    SEND_MAX,
    RECEIVE_MAX,
    SEND_SIZE,
    RECEIVE_SIZE,
    DIMMED,
    SHOWN_CLOSED,
    SHOWN_OPEN,
    PASSWORD,
    DTR_KEY,
};

std::string PanelFileText() {
    std::string controls;
    for (int id = TX_LED; id <= DTR_KEY; ++id) {
        const char* kind = id <= DTR_LED ? "led" : id <= RECEIVE_SIZE ? "numeric" : "button";
        if (id == DTR_KEY) {
            kind = "toggle";
        }
        controls += std::string(controls.empty() ? "" : ",\n") + "{\"kind\": \"" + kind +
                    "\", \"id\": " + std::to_string(id) + ", \"constant\": \"C" +
                    std::to_string(id) +
                    "\", \"left\": 0, \"top\": 0, \"width\": 9, \"height\": 9}";
    }
    return "{\"format\": \"chipload-panel-file\", \"version\": 1, \"panels\": [{\"id\": 1, "
           "\"constant\": \"PANEL\", \"controls\": [\n" +
           controls + "]}]}";
}

int TakeFrame(int port) {
    char* data = nullptr;
    int length = 0;
    TideComm_InputBuffer(port, &data, &length);
    TideComm_ClearInBufferCount(port);
    return 0;
}

class BoundPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TideComm_Init();
        const auto path = std::filesystem::temp_directory_path() /
                          ("bindings_itest_" + std::to_string(::getpid()) + ".uir");
        std::ofstream(path) << PanelFileText();
        panel_ = LoadPanel(0, path.c_str(), 1);
        std::filesystem::remove(path);
        ASSERT_GT(panel_, 0) << RTE_GetLastErrorText();
    }
    void TearDown() override {
        TideComm_Quit();
        engine_.waitIdle();
        DiscardPanel(panel_);
    }

    int Value(int control) { return engine_.frontEnd().intValue(panel_, control); }
    int Attribute(int control, int attribute) {
        return engine_.frontEnd().attribute(panel_, control, attribute);
    }
    bool WaitForValue(int control, int value) {
        return engine_.frontEnd().waitUntil([&] { return Value(control) == value; });
    }

    serialtest::EngineThread engine_;
    serialtest::PtyLink pty_{kPort};
    int panel_ = 0;
};

TEST_F(BoundPortTest, ControlsFollowOpenTrafficDtrKeyAndClose) {
    const int p = panel_;
    ASSERT_EQ(TideComm_BindTXLedCtrl(kPort, p, TX_LED), 0);
    ASSERT_EQ(TideComm_BindRXLedCtrl(kPort, p, RX_LED), 0);
    ASSERT_EQ(TideComm_BindDTRLedCtrl(kPort, p, DTR_LED), 0);
    ASSERT_EQ(TideComm_BindTXLedCount(kPort, p, TX_LEDCOUNT), 0);
    ASSERT_EQ(TideComm_BindRXLedCount(kPort, p, RX_LEDCOUNT), 0);
    ASSERT_EQ(TideComm_BindTXSendCount(kPort, p, SEND_COUNT), 0);
    ASSERT_EQ(TideComm_BindRXReceiveCount(kPort, p, RECEIVE_COUNT), 0);
    ASSERT_EQ(TideComm_BindTXSendMaxCount(kPort, p, SEND_MAX), 0);
    ASSERT_EQ(TideComm_BindRXReceiveMaxCount(kPort, p, RECEIVE_MAX), 0);
    ASSERT_EQ(TideComm_BindTXSendSize(kPort, p, SEND_SIZE), 0);
    ASSERT_EQ(TideComm_BindRXReceiveSize(kPort, p, RECEIVE_SIZE), 0);
    ASSERT_EQ(TideComm_BindCtrlDimmed(kPort, p, DIMMED), 0);
    ASSERT_EQ(TideComm_BindCtrlVisible(kPort, p, SHOWN_CLOSED), 0);
    ASSERT_EQ(TideComm_BindCtrlHidden(kPort, p, SHOWN_OPEN), 0);
    ASSERT_EQ(TideComm_BindCtrlPassword(kPort, p, PASSWORD, 0), 0);
    ASSERT_EQ(TideComm_BindDTRKeyCtrl(kPort, p, DTR_KEY), 0);
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    SetCtrlVal(p, RECEIVE_MAX, 99);
    SetCtrlVal(p, SEND_MAX, 99);

    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    EXPECT_EQ(Value(RECEIVE_SIZE), 4096);
    EXPECT_EQ(Value(SEND_SIZE), 4096);
    EXPECT_EQ(Value(RECEIVE_MAX), 0);
    EXPECT_EQ(Value(SEND_MAX), 0);
    EXPECT_EQ(Attribute(DIMMED, ATTR_DIMMED), 1);
    EXPECT_EQ(Attribute(SHOWN_CLOSED, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 1);

    ASSERT_EQ(TideComm_Output(kPort, "hello"), 0);
    EXPECT_EQ(pty_.read(5), "hello");
    EXPECT_EQ(Value(TX_LED), 1);
    EXPECT_EQ(Value(TX_LEDCOUNT), 1);
    EXPECT_EQ(Value(SEND_COUNT), 5);
    EXPECT_EQ(Value(SEND_MAX), 5);

    pty_.write("abc");
    ASSERT_TRUE(WaitForValue(RECEIVE_COUNT, 3)) << "the input was never taken";
    EXPECT_EQ(Value(RX_LED), 1);
    EXPECT_EQ(Value(TX_LED), 0);
    // One frame, or more when a loaded machine splits the read.
    EXPECT_GE(Value(RX_LEDCOUNT), 1);
    EXPECT_GE(Value(RECEIVE_MAX), 1);
    EXPECT_LE(Value(RECEIVE_MAX), 3);

    engine_.frontEnd().click(p, DTR_KEY);
    engine_.waitIdle();
    EXPECT_EQ(TideComm_GetDTREnable(kPort), 1) << "the key drives the line";
    EXPECT_EQ(Value(DTR_LED), 1);
    engine_.frontEnd().click(p, DTR_KEY);
    engine_.waitIdle();
    EXPECT_EQ(TideComm_GetDTREnable(kPort), 0);
    EXPECT_EQ(Value(DTR_LED), 0);

    engine_.frontEnd().click(p, PASSWORD);
    engine_.waitIdle();
    EXPECT_EQ(Attribute(PASSWORD, ATTR_VISIBLE), 0);

    TideComm_SetDTREnable(kPort, 1);
    ASSERT_EQ(TideComm_Close(kPort), 0);
    EXPECT_EQ(Value(TX_LED), 0);
    EXPECT_EQ(Value(RX_LED), 0);
    EXPECT_EQ(Value(DTR_LED), 0);
    EXPECT_EQ(Value(TX_LEDCOUNT), 0);
    EXPECT_EQ(Value(RX_LEDCOUNT), 0);
    EXPECT_EQ(Value(RECEIVE_COUNT), 3) << "byte counts stay on show";
    EXPECT_EQ(Attribute(DIMMED, ATTR_DIMMED), 0);
    EXPECT_EQ(Attribute(SHOWN_CLOSED, ATTR_VISIBLE), 1);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attribute(PASSWORD, ATTR_VISIBLE), 1);

    // Closed: the key no longer reaches a line.
    engine_.frontEnd().click(p, DTR_KEY);
    engine_.waitIdle();
    EXPECT_EQ(Value(DTR_LED), 0);
}

}  // namespace
