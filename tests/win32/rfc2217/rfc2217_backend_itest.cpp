// The RFC 2217 backend through the Windows API against a server of our own,
// for what a pseudo-terminal behind a real server cannot produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "com_handle.h"
#include "fake_rfc2217_server.h"
#include "telnet_protocol.h"

namespace chipload::rfc2217::testing {
namespace {

using namespace std::chrono_literals;
using Command = FakeRfc2217Server::ClientCommand;

constexpr int kCom = 7;

// An overlapped WaitCommEvent left pending.
struct PendingWait {
    explicit PendingWait(HANDLE h) : handle(h) {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        started = WaitCommEvent(handle, &mask, &overlapped) ? ERROR_SUCCESS : GetLastError();
    }
    ~PendingWait() { CloseHandle(overlapped.hEvent); }
    DWORD finish(DWORD timeoutMs = 3000) {
        DWORD unused = 0;
        return testing::finish(handle, overlapped, unused, timeoutMs);
    }
    HANDLE handle;
    OVERLAPPED overlapped{};
    DWORD mask = 0xDEADBEEF;
    DWORD started;
};

class Rfc2217Backend : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(port.valid()) << "open failed with " << port.openError();
        ASSERT_TRUE(
            SetCommMask(port.get(), EV_CTS | EV_DSR | EV_RING | EV_RLSD | EV_BREAK | EV_ERR));
    }

    // Sends a notification and returns the events of the wait it completes.
    DWORD eventsAfter(void (FakeRfc2217Server::*notify)(std::uint8_t), std::uint8_t value) {
        PendingWait wait(port.get());
        EXPECT_EQ(wait.started, ERROR_IO_PENDING);
        (server.*notify)(value);
        EXPECT_EQ(wait.finish(), ERROR_SUCCESS);
        return wait.mask;
    }

    FakeRfc2217Server server;
    ComHandle port{kCom, server.device()};
};

TEST_F(Rfc2217Backend, ModemNotificationsDriveCommEventsAndModemStatus) {
    using namespace modemstate;
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendModemState, kCts | kDeltaCts), DWORD{EV_CTS});
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(port.get(), &status));
    EXPECT_EQ(status, DWORD{MS_CTS_ON});

    // A change the server did not flag is still a change.
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendModemState, kCts | kDsr | kCd),
              DWORD{EV_DSR | EV_RLSD});
    ASSERT_TRUE(GetCommModemStatus(port.get(), &status));
    EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON});

    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendModemState, kCts | kDsr | kCd | kRi),
              DWORD{EV_RING});
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendModemState, kTrailingEdgeRi | kDeltaCts),
              DWORD{EV_CTS | EV_DSR | EV_RLSD | EV_RING});
    ASSERT_TRUE(GetCommModemStatus(port.get(), &status));
    EXPECT_EQ(status, 0u);

    // The client asked for every modem change and for the line errors.
    EXPECT_TRUE(server.waitForCommand({11, 0xFF}, 1s));
    EXPECT_TRUE(server.waitForCommand({10, 0x1E}, 1s));
}

TEST_F(Rfc2217Backend, LineNotificationsBecomeBreakAndLineErrors) {
    using namespace linestate;
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendLineState, kBreak), DWORD{EV_BREAK});
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendLineState, kFraming | kParity), DWORD{EV_ERR});
    EXPECT_EQ(eventsAfter(&FakeRfc2217Server::sendLineState, kOverrun), DWORD{EV_ERR});
    DWORD errors = 0;
    COMSTAT stat{};
    ASSERT_TRUE(ClearCommError(port.get(), &errors, &stat));
    EXPECT_EQ(errors, DWORD{CE_BREAK | CE_FRAME | CE_RXPARITY | CE_OVERRUN});
}

TEST_F(Rfc2217Backend, SettingsAndLineFunctionsGoOutAsComPortCommands) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);  // what the server says it has
    dcb.BaudRate = 57600;
    dcb.ByteSize = 7;
    dcb.Parity = MARKPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = TRUE;
    ASSERT_TRUE(SetCommState(port.get(), &dcb)) << GetLastError();
    for (const Command expected : {Command{1, 57600}, Command{2, 7}, Command{3, 4}, Command{4, 2},
                                   Command{5, 2}, Command{5, 9}, Command{5, 11}}) {
        EXPECT_TRUE(server.waitForCommand(expected, 1s))
            << int{expected.code} << "=" << expected.value;
    }

    ASSERT_TRUE(EscapeCommFunction(port.get(), SETDTR));
    ASSERT_TRUE(EscapeCommFunction(port.get(), CLRRTS));
    ASSERT_TRUE(EscapeCommFunction(port.get(), SETBREAK));
    ASSERT_TRUE(EscapeCommFunction(port.get(), CLRBREAK));
    ASSERT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR | PURGE_TXCLEAR));
    for (const Command expected :
         {Command{5, 8}, Command{5, 12}, Command{5, 5}, Command{5, 6}, Command{12, 3}}) {
        EXPECT_TRUE(server.waitForCommand(expected, 1s))
            << int{expected.code} << "=" << expected.value;
    }
}

TEST_F(Rfc2217Backend, PurgeDropsDataReceivedBeforeIt) {
    server.sendData({1, 2, 3});
    ASSERT_TRUE(PurgeComm(port.get(), PURGE_RXCLEAR));
    server.sendData({4});
    EXPECT_EQ(port.read(1, 500), std::vector<BYTE>{4});
}

TEST(Rfc2217BackendServer, AServerKeepingAnotherBaudRateFailsSetCommState) {
    FakeRfc2217Server server({.acceptComPort = true, .keptBaud = 9600});
    ComHandle port(kCom, server.device());
    ASSERT_TRUE(port.valid());
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port.get(), &dcb));
    dcb.BaudRate = 115200;
    EXPECT_FALSE(SetCommState(port.get(), &dcb));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST(Rfc2217BackendServer, AServerRefusingTheComPortOptionCannotBeOpened) {
    FakeRfc2217Server server({.acceptComPort = false, .keptBaud = std::nullopt});
    ComHandle port(kCom, server.device());
    EXPECT_FALSE(port.valid());
    EXPECT_EQ(port.openError(), DWORD{ERROR_NOT_SUPPORTED});
}

TEST(Rfc2217BackendServer, NobodyListeningIsANotFoundPort) {
    int closedPort = 0;
    {
        FakeRfc2217Server server;
        closedPort = std::stoi(server.device().substr(server.device().rfind(':') + 1));
    }
    ComHandle port(kCom, "rfc2217://127.0.0.1:" + std::to_string(closedPort));
    EXPECT_FALSE(port.valid());
    EXPECT_EQ(port.openError(), DWORD{ERROR_FILE_NOT_FOUND});
}

TEST_F(Rfc2217Backend, AWriteAbortedMidStreamLeavesTheStreamWhole) {
    // Mostly 0xFF, an escaped pair on the wire, with a plain byte now and
    // then so that pairs start at odd and even offsets: wherever the socket
    // stops taking bytes, it may cut a pair in half.
    std::vector<BYTE> big(2 * 1024 * 1024, 0xFF);
    for (std::size_t i = 0; i < big.size(); i += 1001) {
        big[i] = 'A';
    }
    server.pauseReading(true);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    ASSERT_FALSE(
        WriteFile(port.get(), big.data(), static_cast<DWORD>(big.size()), &n, &overlapped));
    ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 200), DWORD{WAIT_TIMEOUT});  // stuck
    ASSERT_TRUE(PurgeComm(port.get(), PURGE_TXABORT));
    EXPECT_EQ(finish(port.get(), overlapped, n, 3000), DWORD{ERROR_OPERATION_ABORTED});
    CloseHandle(overlapped.hEvent);

    server.pauseReading(false);
    ASSERT_EQ(port.write({'O', 'K'}), ERROR_SUCCESS);
    const auto endsWithOk = [&] {
        const Bytes got = server.data();
        return got.size() >= 2 && got[got.size() - 2] == 'O' && got.back() == 'K';
    };
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!endsWithOk() && std::chrono::steady_clock::now() < deadline) {
        server.waitForData(server.data().size() + 1, 100ms);
    }
    const Bytes got = server.data();
    ASSERT_TRUE(endsWithOk()) << got.size() << " bytes";
    ASSERT_LT(got.size() - 2, big.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end() - 2, big.begin()));
}

TEST_F(Rfc2217Backend, ALineFunctionOvertakesALongWrite) {
    const std::vector<BYTE> big(1024 * 1024, 'x');
    server.pauseReading(true);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    ASSERT_FALSE(
        WriteFile(port.get(), big.data(), static_cast<DWORD>(big.size()), &n, &overlapped));
    ASSERT_EQ(WaitForSingleObject(overlapped.hEvent, 200), DWORD{WAIT_TIMEOUT});  // stuck

    std::thread resume([&] {
        std::this_thread::sleep_for(100ms);
        server.pauseReading(false);
    });
    EXPECT_TRUE(EscapeCommFunction(port.get(), SETDTR)) << GetLastError();
    resume.join();
    EXPECT_EQ(finish(port.get(), overlapped, n, 5000), ERROR_SUCCESS);
    CloseHandle(overlapped.hEvent);

    // The DTR command went out between pieces of the write, not after it.
    ASSERT_TRUE(server.waitForCommand({5, 8}, 1s));
    EXPECT_LT(server.dataBefore({5, 8}).value_or(big.size()), big.size());
    ASSERT_TRUE(server.waitForData(big.size(), 5s));
    EXPECT_EQ(server.data(), big);
}

TEST_F(Rfc2217Backend, ADroppedConnectionFailsPendingAndLaterCalls) {
    // Data sent before the drop is still delivered.
    server.sendData({0x55});
    EXPECT_EQ(port.read(1, 1000), std::vector<BYTE>{0x55});

    PendingWait wait(port.get());
    ASSERT_EQ(wait.started, ERROR_IO_PENDING);
    OVERLAPPED readOverlapped{};
    readOverlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    COMMTIMEOUTS noTimeouts{};
    ASSERT_TRUE(SetCommTimeouts(port.get(), &noTimeouts));  // reads wait for data
    BYTE buffer[16];
    DWORD n = 0;
    ASSERT_FALSE(ReadFile(port.get(), buffer, sizeof buffer, &n, &readOverlapped));
    ASSERT_EQ(GetLastError(), DWORD{ERROR_IO_PENDING});

    server.drop();

    EXPECT_NE(wait.finish(), ERROR_SUCCESS);
    EXPECT_NE(finish(port.get(), readOverlapped, n, 3000), ERROR_SUCCESS);
    CloseHandle(readOverlapped.hEvent);
    EXPECT_NE(port.write({1, 2, 3}), ERROR_SUCCESS);
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(port.get(), &status));
    EXPECT_FALSE(EscapeCommFunction(port.get(), SETDTR));
}

}  // namespace
}  // namespace chipload::rfc2217::testing
