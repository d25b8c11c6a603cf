// Comm devices over a real pseudo-terminal: the test plays the far end.
#include <asm/termbits.h>
#include <sys/ioctl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "overlapped_event.h"
#include "port_map.h"
#include "pty_pair.h"
#include "win32_test_hooks.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kCom = 3;
constexpr DWORD kIntervalMs = 40;

HANDLE openCom(int com) {
    const std::string name = "\\\\.\\COM" + std::to_string(com);
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

class CommPty : public ::testing::Test {
  protected:
    void SetUp() override {
        chipload::portmap::clearAssignments();
        ASSERT_TRUE(chipload::portmap::assign(kCom, pty.slavePath()));
        handle = openCom(kCom);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        setInterval(kIntervalMs);
    }
    void TearDown() override {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        chipload::portmap::clearAssignments();
    }
    void setInterval(DWORD ms) {
        COMMTIMEOUTS timeouts{ms, 0, 0, 0, 0};
        ASSERT_TRUE(SetCommTimeouts(handle, &timeouts));
    }
    // Starts a read that must go pending.
    void startRead(BYTE* buffer, DWORD size, Overlapped& o) {
        DWORD got = 0;
        ASSERT_FALSE(ReadFile(handle, buffer, size, &got, &o.ov));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    DWORD resultOf(Overlapped& o, DWORD& transferred) {
        return GetOverlappedResult(handle, &o.ov, &transferred, TRUE) ? ERROR_SUCCESS
                                                                      : GetLastError();
    }

    chipload::test::PtyPair pty;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(CommPty, BytesPassBothWaysUnchangedThroughOverlappedIo) {
    EXPECT_EQ(GetFileType(handle), static_cast<DWORD>(FILE_TYPE_CHAR));
    std::string all;
    for (int i = 0; i < 256; ++i) {
        all += static_cast<char>(i);
    }
    Overlapped w;
    DWORD written = 0;
    if (!WriteFile(handle, all.data(), static_cast<DWORD>(all.size()), &written, &w.ov)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    ASSERT_EQ(resultOf(w, written), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(pty.read(all.size(), 2000ms), all);

    std::string back(all.rbegin(), all.rend());
    BYTE buffer[256] = {};
    Overlapped r;
    startRead(buffer, sizeof buffer, r);
    pty.write(back);
    DWORD got = 0;
    ASSERT_EQ(resultOf(r, got), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(got, back.size());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), back);
}

TEST_F(CommPty, ShortReadEndsOneIntervalAfterTheLastByteAndAFullOneAtOnce) {
    BYTE buffer[512] = {};
    Overlapped r;
    startRead(buffer, sizeof buffer, r);
    pty.write("12345");
    const auto sent = Clock::now();
    ASSERT_TRUE(r.completesWithin(2000));
    const auto waited = Clock::now() - sent;
    DWORD got = 0;
    ASSERT_EQ(resultOf(r, got), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(got, 5u);
    EXPECT_GE(waited, std::chrono::milliseconds(kIntervalMs - 5));
    EXPECT_LT(waited, std::chrono::milliseconds(kIntervalMs + 1000));  // slack for a loaded CI

    // With a long interval, only a full buffer can end the read quickly.
    setInterval(2000);
    Overlapped full;
    startRead(buffer, sizeof buffer, full);
    const auto start = Clock::now();
    pty.write(std::string(512, 'x'));
    ASSERT_TRUE(full.completesWithin(1900));
    EXPECT_LT(Clock::now() - start, 1500ms);  // well before the 2 s interval
    ASSERT_EQ(resultOf(full, got), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(got, 512u);
}

TEST_F(CommPty, TotalTimeoutsAndReturnAtOnce) {
    BYTE buffer[16] = {};
    DWORD got = 99;
    COMMTIMEOUTS atOnce{MAXDWORD, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle, &atOnce));
    Overlapped empty;
    EXPECT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, &empty.ov));
    EXPECT_EQ(got, 0u);

    COMMTIMEOUTS total{0, 0, 60, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(handle, &total));
    Overlapped r;
    const auto start = Clock::now();
    startRead(buffer, sizeof buffer, r);
    pty.write("ab");
    ASSERT_TRUE(r.completesWithin(2000));
    EXPECT_GE(Clock::now() - start, 55ms);
    ASSERT_EQ(resultOf(r, got), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(got, 2u);
}

TEST_F(CommPty, EmptyMaskCompletesAPendingEventWait) {
    ASSERT_TRUE(SetCommMask(handle, EV_ERR | EV_CTS | EV_BREAK));
    Overlapped e;
    DWORD mask = 0xFFFF;
    ASSERT_FALSE(WaitCommEvent(handle, &mask, &e.ov));
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_FALSE(e.completesWithin(20));
    ASSERT_TRUE(SetCommMask(handle, 0));
    ASSERT_TRUE(e.completesWithin(1000));
    DWORD unused = 0;
    EXPECT_EQ(resultOf(e, unused), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(mask, 0u);
}

TEST_F(CommPty, ReceivedBytesAndAnEmptiedOutputRaiseTheirEvents) {
    ASSERT_TRUE(SetCommMask(handle, EV_RXCHAR | EV_TXEMPTY));
    Overlapped e;
    DWORD mask = 0;
    ASSERT_FALSE(WaitCommEvent(handle, &mask, &e.ov));
    pty.write("z");
    ASSERT_TRUE(e.completesWithin(1000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_RXCHAR));

    Overlapped w;
    DWORD written = 0;
    WriteFile(handle, "ok", 2, &written, &w.ov);
    ASSERT_EQ(resultOf(w, written), static_cast<DWORD>(ERROR_SUCCESS));
    // Happened while no wait was pending: the next wait reports it at once.
    EXPECT_TRUE(WaitCommEvent(handle, &mask, &e.ov));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_TXEMPTY));
}

TEST_F(CommPty, CloseEndsPendingCallsAndLaterCallsFail) {
    ASSERT_TRUE(SetCommMask(handle, EV_ERR | EV_CTS));
    BYTE buffer[64];
    Overlapped r;
    Overlapped e;
    DWORD mask = 0;
    startRead(buffer, sizeof buffer, r);
    ASSERT_FALSE(WaitCommEvent(handle, &mask, &e.ov));
    // A thread already blocked in the wait-for-result must be released too.
    DWORD blockedResult = 0;
    std::thread blocked([&] {
        DWORD n = 0;
        blockedResult = GetOverlappedResult(handle, &r.ov, &n, TRUE) ? 0 : GetLastError();
    });
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(CloseHandle(handle));
    const HANDLE closed = handle;
    handle = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(r.completesWithin(1000));
    EXPECT_TRUE(e.completesWithin(1000));
    blocked.join();
    EXPECT_EQ(blockedResult, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    DWORD n = 0;
    EXPECT_FALSE(GetOverlappedResult(closed, &r.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(closed, buffer, sizeof buffer, &n, &r.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetCommMask(closed, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // The device is free again.
    handle = openCom(kCom);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
}

TEST_F(CommPty, PurgeAbortsPendingReadsAndWritesAndDropsInput) {
    BYTE buffer[64];
    Overlapped r;
    startRead(buffer, sizeof buffer, r);
    ASSERT_TRUE(PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR));
    ASSERT_TRUE(r.completesWithin(1000));
    DWORD n = 0;
    EXPECT_EQ(resultOf(r, n), static_cast<DWORD>(ERROR_OPERATION_ABORTED));

    pty.write("stale");
    COMSTAT status{};
    DWORD errors = 0;
    for (int i = 0; i < 100 && status.cbInQue < 5; ++i) {
        std::this_thread::sleep_for(5ms);
        ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    }
    EXPECT_EQ(status.cbInQue, 5u);
    ASSERT_TRUE(PurgeComm(handle, PURGE_RXCLEAR));
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(status.cbInQue, 0u);

    // Nobody reads the master: a big write cannot finish until it is aborted.
    const std::string big(1 << 20, 'w');
    Overlapped w;
    EXPECT_FALSE(WriteFile(handle, big.data(), static_cast<DWORD>(big.size()), &n, &w.ov));
    EXPECT_FALSE(w.completesWithin(50));
    ASSERT_TRUE(PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR));
    ASSERT_TRUE(w.completesWithin(1000));
    EXPECT_EQ(resultOf(w, n), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(PurgeComm(handle, 0x10));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

termios2 farEndSettings(int masterFd) {
    termios2 t{};
    ioctl(masterFd, TCGETS2, &t);  // a pty master reports its slave's settings
    return t;
}

TEST_F(CommPty, LineSettingsReachTheDeviceAndRefusedOnesChangeNothing) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
    dcb.BaudRate = 123457;  // not a standard rate
    dcb.ByteSize = 8;
    dcb.Parity = EVENPARITY;
    dcb.fParity = 1;
    dcb.StopBits = TWOSTOPBITS;
    ASSERT_TRUE(SetCommState(handle, &dcb)) << GetLastError();
    termios2 t = farEndSettings(pty.masterFd());
    EXPECT_EQ(t.c_ospeed, 123457u);
    EXPECT_EQ(t.c_ispeed, 123457u);
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    DCB back{};
    ASSERT_TRUE(GetCommState(handle, &back));
    EXPECT_EQ(back.BaudRate, 123457u);
    EXPECT_EQ(back.Parity, EVENPARITY);  // what was set, though a pty keeps no parity
    EXPECT_EQ(back.StopBits, TWOSTOPBITS);

    dcb.BaudRate = 115200;
    dcb.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(handle, &dcb));
    EXPECT_EQ(farEndSettings(pty.masterFd()).c_ospeed, 115200u);
    EXPECT_EQ(farEndSettings(pty.masterFd()).c_cflag & CSTOPB, 0u);

    const DCB good = dcb;
    for (auto breakIt : {+[](DCB& d) { d.ByteSize = 9; }, +[](DCB& d) { d.BaudRate = 0; },
                         +[](DCB& d) { d.StopBits = ONE5STOPBITS; }, +[](DCB& d) { d.Parity = 5; },
                         +[](DCB& d) { d.fOutX = 1, d.XonChar = d.XoffChar = 0x11; },
                         +[](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }}) {
        DCB bad = good;
        breakIt(bad);
        EXPECT_FALSE(SetCommState(handle, &bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    ASSERT_TRUE(GetCommState(handle, &back));
    EXPECT_EQ(back.BaudRate, 115200u);
    EXPECT_EQ(farEndSettings(pty.masterFd()).c_ospeed, 115200u);
}

TEST_F(CommPty, DeviceOpensOnlyOnceHoweverItIsNamed) {
    EXPECT_EQ(openCom(kCom), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(chipload::portmap::assign(kCom + 1, pty.slavePath()));
    EXPECT_EQ(openCom(kCom + 1), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(CommPty, NamesWithoutADeviceAreNotFound) {
    ASSERT_TRUE(chipload::portmap::assign(5, "/nonexistent/ttyX"));
    EXPECT_EQ(openCom(5), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    for (const char* name : {"\\\\.\\COM0", "\\\\.\\COM11", "\\\\.\\LPT1", "COM", ""}) {
        EXPECT_EQ(CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE)
            << name;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
}

TEST_F(CommPty, ModemLinesOfAPtyTakeEverythingAndReadZero) {
    for (DWORD function : {SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, RESETDEV}) {
        EXPECT_TRUE(EscapeCommFunction(handle, function)) << function;
    }
    DWORD status = 0xFF;
    ASSERT_TRUE(GetCommModemStatus(handle, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_FALSE(EscapeCommFunction(handle, 42));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DCB dcb{};
    GetCommState(handle, &dcb);
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    EXPECT_TRUE(SetCommState(handle, &dcb));
}

TEST_F(CommPty, InjectedFailuresHitTheNextCallsOnly) {
    chipload::win32::failNextCalls(handle, 2, 0);
    BYTE buffer[4];
    Overlapped r;
    DWORD n = 0;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &n, &r.ov));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(SetCommMask(handle, EV_ERR));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(SetCommMask(handle, EV_ERR));
    chipload::win32::failNextCalls(handle, 1, ERROR_GEN_FAILURE);
    EXPECT_FALSE(WriteFile(handle, "x", 1, &n, &r.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    EXPECT_EQ(pty.read(1, 50ms), "");  // nothing went out
}

TEST_F(CommPty, AHungUpDeviceFailsPendingAndLaterCalls) {
    BYTE buffer[16];
    Overlapped r;
    startRead(buffer, sizeof buffer, r);
    pty.closeMaster();
    ASSERT_TRUE(r.completesWithin(1000));
    DWORD n = 0;
    EXPECT_EQ(resultOf(r, n), static_cast<DWORD>(ERROR_BAD_COMMAND));
    Overlapped w;
    EXPECT_FALSE(WriteFile(handle, "x", 1, &n, &w.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_COMMAND));
    EXPECT_TRUE(CloseHandle(handle));
    handle = INVALID_HANDLE_VALUE;
}

}  // namespace
