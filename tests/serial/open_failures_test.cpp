// Opens that fail after the device itself opened: each reports its own code and text in either
// callback style, leaves the port closed with no thread, buffer or handle behind, and does not
// stand in the way of the next open.
#include <gtest/gtest.h>
#include <win32_test_hooks.h>

#include <functional>
#include <string>
#include <tuple>

#include "pty_link.h"
#include "serial_engine.h"

using serialtest::Call;
using serialtest::Callback;
using serialtest::CallLog;
using serialtest::Record;

namespace {

constexpr int kPort = 6;

struct OpenFailure {
    const char* name;
    int code;
    const char* text;
    std::function<void()> arm;
};

// Device calls of an open, in order: GetFileType, SetupComm, PurgeComm, GetCommTimeouts,
// SetCommTimeouts, GetCommState, SetCommState.
void FailDeviceCall(int skip) {
    chipload::win32::failCallsOnNextOpen(kPort, skip, 1, ERROR_GEN_FAILURE);
}

const OpenFailure kFailures[] = {
    {"NotACharacterDevice", -3, "设备类型错误", [] { FailDeviceCall(0); }},
    {"QueueSizesRefused", -4, "串行口内部输入、输出缓冲区长度操作异常", [] { FailDeviceCall(1); }},
    {"TimeoutsUnreadable", -5, "串行口超时设置错误", [] { FailDeviceCall(3); }},
    {"TimeoutsRefused", -5, "串行口超时设置错误", [] { FailDeviceCall(4); }},
    {"NoStopEvent", -7, "串口不能建立事件",
     [] { chipload::win32::failNextCreateEvent(ERROR_NOT_ENOUGH_MEMORY); }},
    {"NoFirstThread", -7, "串口不能建立事件",
     [] { chipload::win32::failNextCreateThread(0, ERROR_NOT_ENOUGH_MEMORY); }},
    {"NoThirdThread", -7, "串口不能建立事件",
     [] { chipload::win32::failNextCreateThread(2, ERROR_NOT_ENOUGH_MEMORY); }},
};

class OpenFailuresTest : public ::testing::TestWithParam<std::tuple<OpenFailure, bool>> {
  protected:
    void SetUp() override {
        TideComm_Init();
        CallLog::clear();
    }
    void TearDown() override { TideComm_Quit(); }

    serialtest::EngineThread engine_;
    serialtest::PtyLink pty_{kPort};
};

TEST_P(OpenFailuresTest, LeavesThePortClosedAndReportsItsCode) {
    const auto& [failure, onCommStyle] = GetParam();
    if (onCommStyle) {
        TideComm_InstallOnCommCallback(kPort, Record<Callback::OnComm>);
    }
    TideComm_InstallPortOpenErrorCallback(kPort, Record<Callback::OpenError>);
    const int threadsBefore = serialtest::ThreadCount();
    const std::size_t handlesBefore = chipload::win32::openHandleCount();

    failure.arm();
    EXPECT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 1);

    const TideCommPortRecord& r = TideComm[kPort];
    EXPECT_EQ(TideComm_GetPortOpen(kPort), 0);
    EXPECT_EQ(r.commHandle, nullptr);
    EXPECT_EQ(r.stopEvent, nullptr);
    EXPECT_EQ(r.readThread, nullptr);
    EXPECT_EQ(r.writeThread, nullptr);
    EXPECT_EQ(r.dispatchThread, nullptr);
    EXPECT_EQ(r.readBuffer, nullptr);
    EXPECT_EQ(r.frameBuffer, nullptr);
    EXPECT_EQ(r.receiveRing, nullptr);
    EXPECT_EQ(r.sendRing, nullptr);
    EXPECT_EQ(r.sendChunk, nullptr);
    EXPECT_EQ(chipload::win32::openHandleCount(), handlesBefore);
    EXPECT_TRUE(engine_.frontEnd().waitUntil([&] {
        return serialtest::ThreadCount() == threadsBefore;
    })) << "a thread of the failed open lives on";

    EXPECT_EQ(TideComm_GetError(kPort), failure.code);
    char* text = nullptr;
    ASSERT_EQ(TideComm_GetErrorString(kPort, &text), 0);
    EXPECT_STREQ(text, failure.text);
    ASSERT_TRUE(engine_.waitIdle());
    ASSERT_EQ(CallLog::calls().size(), 1u) << "one notification, through one style only";
    const Call call = CallLog::calls()[0];
    EXPECT_EQ(call.callback, onCommStyle ? Callback::OnComm : Callback::OpenError);
    EXPECT_EQ(call.port, kPort);
    EXPECT_EQ(call.error, failure.code);
    EXPECT_EQ(call.thread, engine_.uiThread());
    if (onCommStyle) {
        EXPECT_EQ(call.commEvent, TIDECOMM_EVENT_OPEN_ERROR);
    }

    // The device was let go and nothing armed is left over: the next open works end to end.
    ASSERT_EQ(TideComm_Open(kPort), 0);
    EXPECT_EQ(TideComm_GetError(kPort), 0);
    ASSERT_EQ(TideComm_Output(kPort, "ok"), 0);
    EXPECT_EQ(pty_.read(2), "ok");
    ASSERT_EQ(TideComm_Close(kPort), 0);
    EXPECT_EQ(chipload::win32::openHandleCount(), handlesBefore);
}

std::string CaseName(const ::testing::TestParamInfo<OpenFailuresTest::ParamType>& param) {
    return std::string(std::get<0>(param.param).name) +
           (std::get<1>(param.param) ? "_OnComm" : "_OpenErrorCallback");
}

INSTANTIATE_TEST_SUITE_P(Steps, OpenFailuresTest,
                         ::testing::Combine(::testing::ValuesIn(kFailures), ::testing::Bool()),
                         CaseName);

}  // namespace
