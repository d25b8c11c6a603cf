// Panel bindings, read back through the headless front end: what each binding writes, when,
// and what it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "serial_engine.h"

namespace {

constexpr int kPort = 4;

enum Ctrl {
    TX_LED = 1,
    RX_LED,
    DTR_LED,
    RTS_LED,
    CD_LED,
    CTS_LED,
    DSR_LED,
    RING_LED,
    TX_LEDCOUNT = 10,
    RX_LEDCOUNT,
    SEND_COUNT,
    RECEIVE_COUNT,
    SEND_MAX,
    RECEIVE_MAX,
    SEND_SIZE,
    RECEIVE_SIZE,
    CD_COUNT,
    CTS_COUNT,
    DSR_COUNT,
    RING_COUNT,
    DIMMED = 30,
    SHOWN_CLOSED,
    SHOWN_OPEN,
    PASSWORD,
    SYSTEM_PASSWORD,
    TABS_KEY,
    DTR_KEY = 40,
    RTS_KEY,
    TAB = 50,
};

std::string PanelFileText() {
    std::string controls;
    const auto add = [&controls](const char* kind, int id, const std::string& extra = "") {
        if (!controls.empty()) {
            controls += ",\n";
        }
        controls += "{\"kind\": \"" + std::string(kind) + "\", \"id\": " + std::to_string(id) +
                    ", \"constant\": \"C" + std::to_string(id) +
                    "\", \"left\": 0, \"top\": 0, \"width\": 10, \"height\": 10" + extra + "}";
    };
    for (int id = TX_LED; id <= RING_LED; ++id) {
        add("led", id);
    }
    for (int id = TX_LEDCOUNT; id <= RING_COUNT; ++id) {
        add("numeric", id);
    }
    for (int id = DIMMED; id <= TABS_KEY; ++id) {
        add("button", id);
    }
    add("toggle", DTR_KEY);
    add("toggle", RTS_KEY);
    add("tab", TAB,
        ", \"pages\": [{\"label\": \"p\", \"panel\": {\"id\": 2, \"constant\": \"PAGE\", "
        "\"controls\": []}}]");
    return "{\"format\": \"chipload-panel-file\", \"version\": 1, \"panels\": [{\"id\": 1, "
           "\"constant\": \"PANEL\", \"width\": 100, \"height\": 100, \"controls\": [\n" +
           controls + "]}]}";
}

class BindingsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        engine_ = std::make_unique<serialtest::EngineThread>();
        const auto path = std::filesystem::temp_directory_path() /
                          ("bindings_test_" + std::to_string(::getpid()) + ".uir");
        std::ofstream(path) << PanelFileText();
        panel_ = LoadPanel(0, path.c_str(), 1);
        std::filesystem::remove(path);
    }
    static void TearDownTestSuite() {
        DiscardPanel(panel_);
        engine_.reset();
    }

    void SetUp() override {
        ASSERT_GT(panel_, 0) << RTE_GetLastErrorText();
        TideComm_Init();
        record_ = TideComm_GetStructPtr(kPort);
        for (int id = TX_LED; id <= RING_COUNT; ++id) {
            if (id <= RING_LED || id >= TX_LEDCOUNT) {
                SetCtrlVal(panel_, id, -1);  // shows which controls were never written
            }
        }
        for (int id = DIMMED; id <= TABS_KEY; ++id) {
            SetCtrlAttribute(panel_, id, ATTR_DIMMED, 0);
            SetCtrlAttribute(panel_, id, ATTR_VISIBLE, 1);
        }
        SetCtrlAttribute(panel_, TAB, ATTR_TABS_VISIBLE, 1);
    }

    int Value(int control) const { return engine_->frontEnd().intValue(panel_, control); }
    int Attribute(int control, int attribute) const {
        return engine_->frontEnd().attribute(panel_, control, attribute);
    }
    CtrlCallbackPtr CallbackOf(int control) const {
        CtrlCallbackPtr callback = nullptr;
        GetCtrlAttribute(panel_, control, ATTR_CALLBACK_FUNCTION_POINTER, &callback);
        return callback;
    }
    void Click(int control) {
        engine_->frontEnd().click(panel_, control);
        engine_->waitIdle();
    }

    static std::unique_ptr<serialtest::EngineThread> engine_;
    static int panel_;
    TideCommPortRecord* record_ = nullptr;
};

std::unique_ptr<serialtest::EngineThread> BindingsTest::engine_;
int BindingsTest::panel_ = 0;

TEST_F(BindingsTest, BindingsAreRefusedForBadPortsOpenPortsAndUnsetControls) {
    EXPECT_EQ(TideComm_BindTXLedCtrl(0, panel_, TX_LED), 1);
    EXPECT_EQ(TideComm_BindTXLedCtrl(11, panel_, TX_LED), 1);
    EXPECT_EQ(TideComm_BindTXLedCtrl(kPort, 0, TX_LED), 1);
    EXPECT_EQ(TideComm_BindTXLedCtrl(kPort, panel_, 0), 1);
    EXPECT_EQ(TideComm_BindCtrlDimmed(kPort, panel_, 0), 1);
    EXPECT_EQ(TideComm_BindCtrlPassword(kPort, 0, PASSWORD, 7), 1);
    EXPECT_EQ(TideComm_BindDTRKeyCtrl(kPort, panel_, 0), 1);
    int dummy = 0;
    record_->commHandle = &dummy;
    EXPECT_EQ(TideComm_BindRXLedCtrl(kPort, panel_, RX_LED), 1);
    EXPECT_EQ(TideComm_BindCtrlHidden(kPort, panel_, SHOWN_OPEN), 1);
    EXPECT_EQ(TideComm_BindTabsHidden(kPort, panel_, TAB), 1);
    record_->commHandle = nullptr;
    EXPECT_EQ(record_->txBinding.panel, 0);
    EXPECT_EQ(record_->txBinding.led, 0);
    EXPECT_EQ(record_->rxBinding.led, 0);
    EXPECT_EQ(record_->dimmedCtrls.count, 0);
    EXPECT_EQ(record_->hiddenCtrls.count, 0);
    EXPECT_EQ(record_->passwordCtrls.count, 0);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 1);
    EXPECT_EQ(Attribute(TAB, ATTR_TABS_VISIBLE), 1);

    // Any control of a group sets the group's panel.
    EXPECT_EQ(TideComm_BindRXReceiveCount(kPort, panel_, RECEIVE_COUNT), 0);
    EXPECT_EQ(record_->rxBinding.panel, panel_);
    EXPECT_EQ(record_->rxBinding.count, RECEIVE_COUNT);
    EXPECT_EQ(record_->rxBinding.led, 0);
}

TEST_F(BindingsTest, ControlListsAreBoundedAndFollowOpenAndClose) {
    for (int k = 0; k < TIDECOMM_DIMMED_CTRLS_MAX; ++k) {
        ASSERT_EQ(TideComm_BindCtrlDimmed(kPort, panel_, DIMMED), 0) << k;
    }
    EXPECT_EQ(TideComm_BindCtrlDimmed(kPort, panel_, DIMMED), 1);
    for (int k = 0; k < TIDECOMM_VISIBLE_CTRLS_MAX; ++k) {
        ASSERT_EQ(TideComm_BindCtrlVisible(kPort, panel_, SHOWN_CLOSED), 0) << k;
        ASSERT_EQ(TideComm_BindCtrlHidden(kPort, panel_, SHOWN_OPEN), 0) << k;
    }
    EXPECT_EQ(TideComm_BindCtrlVisible(kPort, panel_, SHOWN_CLOSED), 1);
    EXPECT_EQ(TideComm_BindCtrlHidden(kPort, panel_, SHOWN_OPEN), 1);
    for (int k = 0; k < TIDECOMM_PASSWORD_CTRLS_MAX; ++k) {
        ASSERT_EQ(TideComm_BindCtrlPassword(kPort, panel_, PASSWORD, k), 0) << k;
    }
    EXPECT_EQ(TideComm_BindCtrlPassword(kPort, panel_, PASSWORD, 10), 1);
    EXPECT_EQ(record_->passwordCtrls.entries[9].data, 9);

    // At binding: dimmed at once, the closed-only control shown, the open-only one hidden.
    EXPECT_EQ(Attribute(DIMMED, ATTR_DIMMED), 1);
    EXPECT_EQ(Attribute(SHOWN_CLOSED, ATTR_VISIBLE), 1);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 0);

    TideCommApplyOpenCtrlLists(record_);
    EXPECT_EQ(Attribute(DIMMED, ATTR_DIMMED), 1);
    EXPECT_EQ(Attribute(SHOWN_CLOSED, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 1);

    Click(PASSWORD);
    EXPECT_EQ(Attribute(PASSWORD, ATTR_VISIBLE), 0) << "a password control hides itself";

    TideCommResetIndicatorsAtClose(record_);
    EXPECT_EQ(Attribute(DIMMED, ATTR_DIMMED), 0);
    EXPECT_EQ(Attribute(SHOWN_CLOSED, ATTR_VISIBLE), 1);
    EXPECT_EQ(Attribute(SHOWN_OPEN, ATTR_VISIBLE), 0);
    EXPECT_EQ(Attribute(PASSWORD, ATTR_VISIBLE), 1) << "closing shows it again";
}

TEST_F(BindingsTest, ActivityLedsAndCountsOnlyWhereBound) {
    ASSERT_EQ(TideComm_BindRXLedCtrl(kPort, panel_, RX_LED), 0);
    SetCtrlVal(panel_, TX_LED, 1);
    TideCommShowWriteStart(record_);
    EXPECT_EQ(Value(RX_LED), -1) << "an unbound TX LED changes nothing";
    EXPECT_EQ(record_->txLedCount.load(), 0) << "counts only while its control is bound";
    TideCommShowInputTaken(record_);
    EXPECT_EQ(Value(RX_LED), 1);
    EXPECT_EQ(Value(TX_LED), 1) << "an unbound TX LED is left alone";
    EXPECT_EQ(record_->rxLedCount.load(), 0);

    ASSERT_EQ(TideComm_BindTXLedCtrl(kPort, panel_, TX_LED), 0);
    ASSERT_EQ(TideComm_BindTXLedCount(kPort, panel_, TX_LEDCOUNT), 0);
    ASSERT_EQ(TideComm_BindRXLedCount(kPort, panel_, RX_LEDCOUNT), 0);
    ASSERT_EQ(TideComm_BindRXReceiveCount(kPort, panel_, RECEIVE_COUNT), 0);
    ASSERT_EQ(TideComm_BindTXSendCount(kPort, panel_, SEND_COUNT), 0);
    TideCommShowWriteStart(record_);
    TideCommShowWriteStart(record_);
    EXPECT_EQ(Value(TX_LED), 1);
    EXPECT_EQ(Value(RX_LED), 0);
    EXPECT_EQ(Value(TX_LEDCOUNT), 2);
    record_->receiveCount = 77;
    TideCommShowInputTaken(record_);
    EXPECT_EQ(Value(RX_LED), 1);
    EXPECT_EQ(Value(TX_LED), 0);
    EXPECT_EQ(Value(RX_LEDCOUNT), 1);
    EXPECT_EQ(Value(RECEIVE_COUNT), 77);
    record_->sendCount = 150;
    TideCommShowSendCount(record_);
    EXPECT_EQ(Value(SEND_COUNT), 150);

    TideCommResetIndicatorsAtClose(record_);
    EXPECT_EQ(Value(TX_LED), 0);
    EXPECT_EQ(Value(RX_LED), 0);
    EXPECT_EQ(Value(TX_LEDCOUNT), 0);
    EXPECT_EQ(Value(RX_LEDCOUNT), 0);
    EXPECT_EQ(record_->txLedCount.load(), 0);
    EXPECT_EQ(record_->rxLedCount.load(), 0);
    EXPECT_EQ(Value(RECEIVE_COUNT), 77) << "byte counts are not indicators";
}

TEST_F(BindingsTest, HighWaterMarksAndSizes) {
    TideCommTrackReceiveFill(record_, 50);
    TideCommTrackSendBacklog(record_, 60);
    EXPECT_EQ(record_->receiveMaxCount.load(), 0) << "tracked only while bound";
    EXPECT_EQ(record_->sendMaxCount.load(), 0);

    ASSERT_EQ(TideComm_BindRXReceiveMaxCount(kPort, panel_, RECEIVE_MAX), 0);
    ASSERT_EQ(TideComm_BindTXSendMaxCount(kPort, panel_, SEND_MAX), 0);
    ASSERT_EQ(TideComm_BindRXReceiveSize(kPort, panel_, RECEIVE_SIZE), 0);
    ASSERT_EQ(TideComm_BindTXSendSize(kPort, panel_, SEND_SIZE), 0);
    record_->receiveMaxCount = 5;
    record_->sendMaxCount = 5;
    TideCommResetMaxCounts(record_);
    EXPECT_EQ(record_->receiveMaxCount.load(), 0);
    EXPECT_EQ(Value(RECEIVE_MAX), 0);
    EXPECT_EQ(Value(SEND_MAX), 0);

    TideCommTrackReceiveFill(record_, 50);
    TideCommTrackReceiveFill(record_, 20);
    TideCommTrackSendBacklog(record_, 64);
    TideCommTrackSendBacklog(record_, 63);
    EXPECT_EQ(record_->receiveMaxCount.load(), 50);
    EXPECT_EQ(Value(RECEIVE_MAX), 50);
    EXPECT_EQ(record_->sendMaxCount.load(), 64);
    EXPECT_EQ(Value(SEND_MAX), 64);

    record_->inBufferSize = 8192;
    record_->outBufferSize = 2048;
    TideCommShowBufferSizes(record_);
    EXPECT_EQ(Value(RECEIVE_SIZE), 8192);
    EXPECT_EQ(Value(SEND_SIZE), 2048);
}

TEST_F(BindingsTest, ReceiveRingFillIsTrackedAsBytesArrive) {
    ASSERT_EQ(TideComm_BindRXReceiveMaxCount(kPort, panel_, RECEIVE_MAX), 0);
    std::vector<char> ring(64), frame(17), read(16);
    record_->inBufferSize = 64;
    record_->inputLen = 16;
    record_->frameCapacity = 16;
    record_->receiveRing = ring.data();
    record_->frameBuffer = frame.data();
    record_->readBuffer = read.data();
    record_->dispatchThreadId = GetCurrentThreadId();
    const auto arrive = [this](int n) {
        record_->bytesRead = static_cast<DWORD>(n);
        HandleReadData(record_);
    };
    arrive(10);  // becomes a frame: the fill seen was 10
    arrive(12);  // waits behind that frame
    arrive(16);
    EXPECT_EQ(record_->receiveMaxCount.load(), 28);
    EXPECT_EQ(Value(RECEIVE_MAX), 28);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    record_->receiveRing = record_->frameBuffer = record_->readBuffer = nullptr;
}

TEST_F(BindingsTest, ModemLineIndicators) {
    ASSERT_EQ(TideComm_BindRINGLedCtrl(kPort, panel_, RING_LED), 0);
    ASSERT_EQ(TideComm_BindRINGLedCount(kPort, panel_, RING_COUNT), 0);
    ASSERT_EQ(TideComm_BindCTSLedCtrl(kPort, panel_, CTS_LED), 0);
    ASSERT_EQ(TideComm_BindCTSLedCount(kPort, panel_, CTS_COUNT), 0);
    ASSERT_EQ(TideComm_BindDSRLedCtrl(kPort, panel_, DSR_LED), 0);
    ASSERT_EQ(TideComm_BindCDLedCtrl(kPort, panel_, CD_LED), 0);
    ASSERT_EQ(TideComm_BindCDLedCount(kPort, panel_, CD_COUNT), 0);

    const auto ring = [this] {
        ++record_->ringCount;
        TideCommShowModemLine(record_, 4, 0);
    };
    ring();
    EXPECT_EQ(Value(RING_LED), 1);
    ring();
    EXPECT_EQ(Value(RING_LED), 0);
    ring();
    EXPECT_EQ(Value(RING_LED), 1);
    EXPECT_EQ(Value(RING_COUNT), 3);
    TideCommResetIndicatorsAtClose(record_);
    EXPECT_EQ(record_->ringCount.load(), 0);
    EXPECT_EQ(Value(RING_COUNT), 3) << "the count control keeps its value until the next ring";
    ring();
    EXPECT_EQ(Value(RING_COUNT), 1);

    ++record_->ctsCount;
    TideCommShowModemLine(record_, 1, MS_CTS_ON | MS_DSR_ON);
    EXPECT_EQ(Value(CTS_LED), 16);
    EXPECT_EQ(Value(CTS_COUNT), 1);
    EXPECT_EQ(Value(DSR_LED), -1) << "only the line that changed is written";
    ++record_->dsrCount;
    TideCommShowModemLine(record_, 2, MS_CTS_ON);
    EXPECT_EQ(Value(DSR_LED), 0);
    ++record_->cdCount;
    TideCommShowModemLine(record_, 8, MS_RLSD_ON);
    EXPECT_EQ(Value(CD_LED), 128);
    EXPECT_EQ(Value(CD_COUNT), 1);
    EXPECT_EQ(Value(DSR_COUNT), -1) << "unbound count control";
}

TEST_F(BindingsTest, DtrAndRtsLedsAndKeys) {
    ASSERT_EQ(TideComm_BindDTRLedCtrl(kPort, panel_, DTR_LED), 0);
    ASSERT_EQ(TideComm_BindRTSLedCtrl(kPort, panel_, RTS_LED), 0);
    TideCommShowDtrLed(record_, 2);
    TideCommShowRtsLed(record_, 1);
    EXPECT_EQ(Value(DTR_LED), 2);
    EXPECT_EQ(Value(RTS_LED), 1);

    ASSERT_EQ(TideComm_BindDTRKeyCtrl(kPort, panel_, DTR_KEY), 0);
    ASSERT_EQ(TideComm_BindRTSKeyCtrl(kPort, panel_, RTS_KEY), 0);
    EXPECT_EQ(CallbackOf(DTR_KEY), &TideComm_DTRCallBackFunction);
    EXPECT_EQ(CallbackOf(RTS_KEY), &TideComm_RTSCallBackFunction);
    EXPECT_EQ(CtrlCommDTR.port, kPort);
    EXPECT_EQ(CtrlCommDTR.panel, panel_);
    EXPECT_EQ(CtrlCommDTR.control, DTR_KEY);
    EXPECT_EQ(CtrlCommRTS.control, RTS_KEY);

    // The port is closed: the key's commit leaves the line and its LED alone.
    Click(DTR_KEY);
    EXPECT_EQ(Value(DTR_LED), 2);
    EXPECT_EQ(record_->dcb.fDtrControl, 0u);
}

TEST_F(BindingsTest, SystemPasswordControlsAndTabs) {
    EXPECT_EQ(TideComm_BindSystemCtrlPassword(0, SYSTEM_PASSWORD, 1), 1);
    EXPECT_EQ(CallbackOf(SYSTEM_PASSWORD), nullptr);
    EXPECT_EQ(TideComm_BindSystemCtrlPassword(panel_, SYSTEM_PASSWORD, 1), 1);
    EXPECT_EQ(CallbackOf(SYSTEM_PASSWORD), &TideComm_SystemCtrlPassword);
    Click(SYSTEM_PASSWORD);
    EXPECT_EQ(Attribute(SYSTEM_PASSWORD, ATTR_VISIBLE), 0);
    TideCommResetIndicatorsAtClose(record_);
    EXPECT_EQ(Attribute(SYSTEM_PASSWORD, ATTR_VISIBLE), 0) << "nothing shows it again";

    EXPECT_EQ(TideComm_BindSystemTabsPassword(panel_, TAB, panel_, TABS_KEY, 0), 1);
    EXPECT_EQ(Attribute(TAB, ATTR_TABS_VISIBLE), 0);
    Click(TABS_KEY);
    EXPECT_EQ(Attribute(TAB, ATTR_TABS_VISIBLE), 1) << "the key reveals the tabs";
    EXPECT_EQ(Attribute(TABS_KEY, ATTR_VISIBLE), 1);

    EXPECT_EQ(TideComm_BindTabsHidden(kPort, panel_, TAB), 0);
    EXPECT_EQ(Attribute(TAB, ATTR_TABS_VISIBLE), 0);
    EXPECT_EQ(TideComm_BindTabsVisible(kPort, panel_, TAB), 0);
    EXPECT_EQ(Attribute(TAB, ATTR_TABS_VISIBLE), 1);
    EXPECT_EQ(SystemTabsHidden.control, TAB);
}

TEST(ModemQueries, ClosedPortsAndTheLegacyRegister) {
    TideComm_Init();
    DCB dcb{};
    DWORD status = 0;
    EXPECT_EQ(TideComm_GetState(2, &dcb), 1);
    EXPECT_EQ(TideComm_GetModemState(2, &status), 1);
    EXPECT_EQ(TideComm_GetCTSHolding(2), 0);
    EXPECT_EQ(TideComm_GetCDHolding(11), 0);
    // No legacy I/O space on Linux: the register reads 0 whatever the port.
    EXPECT_EQ(TideComm_GetCTSPin(2), 0);
    EXPECT_EQ(TideComm_GetModemPin(3, 0xFF), 0);
    EXPECT_EQ(TideComm_GetModemPin(11, 0xFF), 0);
    EXPECT_EQ(TideComm_SetBREAKEnable(2, 1), 1) << "closed port";
}

}  // namespace
