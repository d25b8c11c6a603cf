// The port table, the callback registry, configuration on closed ports, error texts and the
// open-failure notifications.
#include <gtest/gtest.h>
#include <port_map.h>

#include <cstring>
#include <string>

#include "serial_engine.h"

using serialtest::Call;
using serialtest::Callback;
using serialtest::CallLog;
using serialtest::Record;

namespace {

class PortTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TideComm_Init();
        CallLog::clear();
    }
    std::string ErrorString(int port) {
        char* text = nullptr;
        EXPECT_EQ(TideComm_GetErrorString(port, &text), 0);
        return text != nullptr ? text : "<null>";
    }
};

TEST_F(PortTableTest, LookupsAcceptOnlyTheirIndexRange) {
    EXPECT_EQ(TideComm_GetStructPtr(0), nullptr);
    EXPECT_EQ(TideComm_GetStructPtr(11), nullptr);
    EXPECT_EQ(TideComm_GetStructPtr(-1), nullptr);
    EXPECT_EQ(TideComm_GetStructPtr(10), &TideComm[10]);
    EXPECT_EQ(TideComm_GetSystemStructPtr(0), &TideComm[0]);
    EXPECT_EQ(TideComm_GetSystemStructPtr(11), nullptr);
}

TEST_F(PortTableTest, InitSetsTheDefaultsOfEveryRecord) {
    TideComm[4].inputLen = 7;
    TideComm[4].onCommCallback = Record<Callback::OnComm>;
    TideComm[4].txBinding.led = 9;
    TideComm[4].dcb.BaudRate = 1200;
    TideComm_Init();
    for (int i = 0; i <= 10; ++i) {
        const TideCommPortRecord& r = TideComm[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(r.port, i);
        EXPECT_EQ(r.ioBase, i == 2 ? 0x2F8 : 0x3F8);
        EXPECT_EQ(r.dcb.BaudRate, 9600u);
        EXPECT_EQ(r.dcb.ByteSize, 8);
        EXPECT_EQ(r.dcb.Parity, NOPARITY);
        EXPECT_EQ(r.dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ(r.dcb.fBinary, 1u);
        EXPECT_EQ(r.dcb.XonChar, 0x11);
        EXPECT_EQ(r.dcb.XoffChar, 0x13);
        EXPECT_EQ(r.dcb.XonLim, 500);
        EXPECT_EQ(r.dcb.XoffLim, 500);
        EXPECT_EQ(r.inputLen, 64);
        EXPECT_EQ(r.outputLen, 64);
        EXPECT_EQ(r.inBufferSize, 4096);
        EXPECT_EQ(r.outBufferSize, 4096);
        EXPECT_EQ(r.readIntervalTimeout, 100u);
        EXPECT_EQ(r.startChar, -1);
        EXPECT_EQ(r.endChar, -1);
        EXPECT_EQ(r.commEventMask, static_cast<DWORD>(EV_ERR));
        EXPECT_EQ(r.commHandle, nullptr);
        EXPECT_EQ(r.onCommCallback.load(), nullptr);
        EXPECT_EQ(r.txBinding.led, 0);
        EXPECT_EQ(r.sendIdle, 1);
    }
}

TEST_F(PortTableTest, ErrorTextsAreTheLibrarysOwn) {
    const struct {
        int code;
        const char* text;
    } expected[] = {
        {0, ""},
        {-1, "串口已打开"},
        {-2, "打开通信设备文件失败"},
        {-3, "设备类型错误"},
        {-4, "串行口内部输入、输出缓冲区长度操作异常"},
        {-5, "串行口超时设置错误"},
        {-6, "串行口状态字设置错误"},
        {-7, "串口不能建立事件"},
        {-8, "串口未打开"},
        {6, "无效句柄"},
        {3, ""},
        {-900, "用户定义输入长度错误"},
        {-901, "非法起始字符错误"},
        {-902, "非法终止字符错误"},
        {-903, "固定程度错误"},
        {-904, "用户自定义格式校验错误"},
        {-998, "Rondo数据格式错误"},
        {-999, "GPS数据格式错误"},
        {CE_FRAME | CE_OVERRUN, ""},
    };
    for (const auto& e : expected) {
        TideComm[5].error = e.code;
        EXPECT_EQ(TideComm_GetError(5), e.code);
        EXPECT_EQ(ErrorString(5), e.text) << e.code;
    }
    EXPECT_EQ(TideComm_GetError(11), -1);
    char* untouched = nullptr;
    EXPECT_EQ(TideComm_GetErrorString(0, &untouched), 1);
    EXPECT_EQ(untouched, nullptr);
}

TEST_F(PortTableTest, EveryErrorStringCallGivesAFreshBuffer) {
    char* first = nullptr;
    char* second = nullptr;
    ASSERT_EQ(TideComm_GetErrorString(3, &first), 0);
    ASSERT_EQ(TideComm_GetErrorString(3, &second), 0);
    EXPECT_EQ(TideComm[3].errorText, second);
    EXPECT_STREQ(second, "");
}

TEST_F(PortTableTest, ReceiveInstallFiltersCharactersAndOnlyRaisesTheInputLength) {
    EXPECT_EQ(TideComm_InstallReceiveCallback(11, 1, 2, 0, 0, Record<Callback::Receive>), 1);
    EXPECT_EQ(TideComm_InstallReceiveCallback(3, 1, 2, 0, 0, nullptr), 1);

    TideComm[3].startIndex = 4;
    TideComm[3].endIndex = 5;
    EXPECT_EQ(TideComm_InstallReceiveCallback(3, 300, 255, -8, 4096, Record<Callback::Receive>), 0);
    EXPECT_EQ(TideComm[3].startChar, -1);
    EXPECT_EQ(TideComm[3].endChar, 255);
    EXPECT_EQ(TideComm[3].frameLength, -8);
    EXPECT_EQ(TideComm[3].startIndex, -1);
    EXPECT_EQ(TideComm[3].endIndex, -1);
    EXPECT_EQ(TideComm[3].inputLen, 64) << "no start character: the minimum is not applied";

    TideComm_InstallReceiveCallback(3, -5, 3, 0, 4096, Record<Callback::Receive>);
    EXPECT_EQ(TideComm[3].startChar, -1);
    EXPECT_EQ(TideComm[3].inputLen, 64);

    TideComm_InstallReceiveCallback(3, 2, 3, 0, 1024, Record<Callback::Receive>);
    EXPECT_EQ(TideComm[3].inputLen, 1024);
    TideComm_InstallReceiveCallback(3, 2, 3, 0, 32, Record<Callback::Receive>);
    EXPECT_EQ(TideComm[3].inputLen, 1024) << "never lowered";
    EXPECT_EQ(TideComm[3].receiveCallback.load(), &Record<Callback::Receive>);
}

TEST_F(PortTableTest, InstallsSetTheirEventMaskBitsAndKeepTheErrorBit) {
    EXPECT_EQ(TideComm_InstallCTSStateChangeCallback(0, Record<Callback::CtsChange>), 0);
    EXPECT_EQ(TideComm[0].commEventMask, static_cast<DWORD>(EV_ERR | EV_CTS));
    TideComm_InstallRingStateChangeHookCallback(2, nullptr);
    TideComm_InstallReceiveBreakCallback(2, nullptr);
    EXPECT_EQ(TideComm[2].commEventMask, static_cast<DWORD>(EV_ERR | EV_RING | EV_BREAK));
    TideComm_InstallModemStateChangeCallback(2, nullptr, EV_DSR);
    EXPECT_EQ(TideComm[2].commEventMask, static_cast<DWORD>(EV_ERR | EV_DSR)) << "replaced";
    EXPECT_EQ(TideComm_InstallSendEmptyCallback(11, nullptr), 1);

    EXPECT_EQ(TideComm_SetModemEventMask(2, 0), 1);
    EXPECT_EQ(TideComm[2].commEventMask, static_cast<DWORD>(EV_ERR));
    EXPECT_EQ(TideComm_SetModemEventMask(2, 312), 1);
    EXPECT_EQ(TideComm[2].commEventMask, 312u | EV_ERR);
    EXPECT_EQ(TideComm_SetModemEventMask(0, 8), 1);
    EXPECT_EQ(TideComm[0].commEventMask, static_cast<DWORD>(EV_ERR | EV_CTS))
        << "index 0 is no port: unchanged";
}

TEST_F(PortTableTest, OnCommInstallOfNullGivesTheReadyMadeCallback) {
    EXPECT_EQ(TideComm_InstallOnCommCallback(4, nullptr), 0);
    EXPECT_EQ(TideComm[4].onCommCallback.load(), &TideComm_OnCommCallback);
}

TEST_F(PortTableTest, ReadyMadeOnCommForwardsEachCodeToItsInvoker) {
    TideComm_InstallSendEmptyCallback(6, Record<Callback::SendEmpty>);
    TideComm_InstallSendErrorCallback(6, Record<Callback::SendError>);
    TideComm_InstallReceiveCallback(6, -1, -1, 0, 0, Record<Callback::Receive>);
    TideComm_InstallReceiveErrorCallback(6, Record<Callback::ReceiveError>);
    TideComm_InstallPortOpenErrorCallback(6, Record<Callback::OpenError>);
    TideComm_InstallModemStateChangeCallback(6, Record<Callback::ModemChange>, 0);
    TideComm_InstallCTSStateChangeCallback(6, Record<Callback::CtsChange>);
    TideComm_InstallSendCallback(6, Record<Callback::Send>);
    for (int code : {32, 64, 128, 256, 512, 32768, 1, 2, 4, 8, 16}) {
        TideComm[6].commEvent = code;
        TideComm_OnCommCallback(6);
    }
    EXPECT_EQ(CallLog::kinds(),
              (std::vector<Callback>{Callback::SendEmpty, Callback::SendError, Callback::Receive,
                                     Callback::ReceiveError, Callback::OpenError,
                                     Callback::ModemChange}));
}

TEST_F(PortTableTest, DcbSettersOnAClosedPortStoreTheValueAndReportNotOpen) {
    serialtest::EngineThread engine;
    TideComm_InstallPortOpenErrorCallback(4, Record<Callback::OpenError>);
    EXPECT_EQ(TideComm_SetBaudRate(4, 115200), 1);
    EXPECT_EQ(TideComm[4].dcb.BaudRate, 115200u);
    EXPECT_EQ(TideComm_GetError(4), -8);
    EXPECT_EQ(ErrorString(4), "串口未打开");

    TideComm_SetParity(4, 0x102);
    TideComm_SetStopBits(4, 1);
    TideComm_SetXonLimit(4, 0x12345);
    TideComm_SetOutx_CtsFlow(4, 3);
    TideComm_SetReplacedChar(4, 0x141);
    TideComm_SetIgnoreNullChar(4, 1);
    EXPECT_EQ(TideComm[4].dcb.Parity, 2);
    EXPECT_EQ(TideComm[4].dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(TideComm[4].dcb.XonLim, 0x2345);
    EXPECT_EQ(TideComm[4].dcb.fOutxCtsFlow, 1u);
    EXPECT_EQ(TideComm[4].dcb.EvtChar, 0x41);
    EXPECT_EQ(TideComm[4].dcb.fAbortOnError, 1u);

    EXPECT_EQ(TideComm_SetByteSize(4, 7), 1);
    EXPECT_EQ(TideComm[4].dcb.ByteSize, 7) << "data bits as written";
    EXPECT_EQ(TideComm_SetByteSize(4, 9), 1);
    EXPECT_EQ(TideComm[4].dcb.ByteSize, 7) << "out of range: unchanged";

    EXPECT_EQ(TideComm_SetBaudRate(11, 1200), 1);
    ASSERT_TRUE(engine.waitIdle());
    EXPECT_EQ(CallLog::count(Callback::OpenError), 8u) << "one report per stored setter";
}

TEST_F(PortTableTest, ClosedPortOperationsFailWithoutTouchingTheRecord) {
    serialtest::EngineThread engine;
    TideComm_InstallOnCommCallback(7, Record<Callback::OnComm>);
    EXPECT_EQ(TideComm_Close(7), 1);
    EXPECT_EQ(TideComm_Close(7), 1);
    EXPECT_EQ(TideComm_Close(11), 1);
    EXPECT_EQ(TideComm_SetReadIntervalTimeout(7, 1), 1);
    EXPECT_EQ(TideComm[7].readIntervalTimeout, 1u);
    EXPECT_EQ(TideComm_SetTimeout(7), 1);
    EXPECT_EQ(TideComm_SetDTREnable(7, 1), 1);
    EXPECT_EQ(TideComm_SetEscape(7, SETDTR), 1);
    EXPECT_EQ(TideComm_GetDTREnable(7), 0);
    EXPECT_EQ(TideComm_Suspend(7), 1);
    EXPECT_EQ(TideComm_OutputBuffer(7, "x", 1), 1);
    EXPECT_EQ(TideComm_GetSendCount(7), 0);
    char* frame = nullptr;
    int length = -5;
    EXPECT_EQ(TideComm_InputBuffer(7, &frame, &length), 1);
    EXPECT_EQ(length, -5);
    char copy[4] = "abc";
    EXPECT_EQ(TideComm_Input(7, copy, &length), 1);
    EXPECT_EQ(copy[0], 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(TideComm_ClearInBufferCount(7), 1);
    EXPECT_EQ(TideComm_GetModemEvent(7), 0);
    EXPECT_EQ(TideComm_SetSendCount(7, -1), 1);
    EXPECT_EQ(TideComm_SetSendCount(7, 5), 0);
    EXPECT_EQ(TideComm_GetSendCount(7), 5);
    EXPECT_EQ(TideComm_GetSendCount(0), -1);
    ASSERT_TRUE(engine.waitIdle());
    // Two closes of a closed port: two not-open reports, through OnComm with event 512.
    ASSERT_EQ(CallLog::count(Callback::OnComm), 2u);
    for (const Call& call : CallLog::calls()) {
        EXPECT_EQ(call.port, 7);
        EXPECT_EQ(call.commEvent, TIDECOMM_EVENT_OPEN_ERROR);
        EXPECT_EQ(call.error, -8);
        EXPECT_EQ(call.thread, engine.uiThread());
    }
}

TEST_F(PortTableTest, AModeTextFillsTheDeviceControlBlockOfAClosedPort) {
    EXPECT_EQ(TideComm_Settings(3, "baud=1200 parity=E data=7 stop=2"), 0);
    EXPECT_EQ(TideComm[3].dcb.BaudRate, 1200u);
    EXPECT_EQ(TideComm[3].dcb.Parity, EVENPARITY);
    EXPECT_EQ(TideComm[3].dcb.ByteSize, 7);
    EXPECT_EQ(TideComm[3].dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(TideComm_Settings(0, "baud=1200"), 1);
}

TEST_F(PortTableTest, SizesAndLengthsRefuseValuesTheRingsCannotUse) {
    EXPECT_EQ(TideComm_SetOutBuffersize(3, 1000), 1);
    EXPECT_EQ(TideComm_SetOutBuffersize(3, 0), 1);
    EXPECT_EQ(TideComm_SetOutBuffersize(3, 1024), 0);
    EXPECT_EQ(TideComm[3].outBufferSize, 1024);
    EXPECT_EQ(TideComm_SetOutputLen(3, 0), 1);
    EXPECT_EQ(TideComm_SetOutputLen(3, 16), 0);
    EXPECT_EQ(TideComm[3].outputLen, 16);
    EXPECT_EQ(TideComm_SetSThreshold(3, 2), 0);
    EXPECT_EQ(TideComm_GetSThreshold(3), 2);
}

TEST_F(PortTableTest, PortNamesAndNumbers) {
    EXPECT_EQ(TideComm_GetCommPort("COM3"), 3);
    EXPECT_EQ(TideComm_GetCommPort("COM10"), 10);
    EXPECT_EQ(TideComm_GetCommPort("COM10x"), 10);
    EXPECT_EQ(TideComm_GetCommPort("COM11"), 0);
    EXPECT_EQ(TideComm_GetCommPort("COM0"), 0);
    EXPECT_EQ(TideComm_GetCommPort("com3"), 0);
    EXPECT_EQ(TideComm_GetCommPort("COM"), 0);
    char name[12] = "junk";
    EXPECT_EQ(TideComm_GetCommName(10, name), 9);
    EXPECT_STREQ(name, "\\\\.\\COM10");
    EXPECT_EQ(TideComm_GetCommName(0, name), 0);
    EXPECT_STREQ(name, "");
    std::intptr_t handle = 99;
    EXPECT_EQ(TideComm_GetHandle(0, &handle), 1);
    EXPECT_EQ(handle, 0);
}

class OpenFailureTest : public PortTableTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OpenFailureTest, AMissingDeviceIsReportedInEitherStyle) {
    const bool onCommStyle = GetParam();
    serialtest::EngineThread engine;
    chipload::portmap::assign(8, "/nonexistent/tty-for-tidecomm");
    if (onCommStyle) {
        TideComm_InstallOnCommCallback(8, Record<Callback::OnComm>);
    }
    TideComm_InstallPortOpenErrorCallback(8, Record<Callback::OpenError>);
    EXPECT_EQ(TideComm_OpenConfig(8, 115200, 0, 8, 0, 0, 0, 1), 1);
    EXPECT_EQ(TideComm[8].commHandle, nullptr);
    EXPECT_EQ(TideComm_GetPortOpen(8), 0);
    EXPECT_EQ(TideComm[8].dcb.BaudRate, 115200u);
    ASSERT_TRUE(engine.waitIdle());
    ASSERT_EQ(CallLog::calls().size(), 1u);
    const Call call = CallLog::calls()[0];
    EXPECT_EQ(call.callback, onCommStyle ? Callback::OnComm : Callback::OpenError);
    EXPECT_EQ(call.error, -2);
    if (onCommStyle) {
        EXPECT_EQ(call.commEvent, TIDECOMM_EVENT_OPEN_ERROR);
    }
    EXPECT_EQ(ErrorString(8), "打开通信设备文件失败");
    chipload::portmap::clearAssignments();
}

INSTANTIATE_TEST_SUITE_P(Styles, OpenFailureTest, ::testing::Bool());

}  // namespace
