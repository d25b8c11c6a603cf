// Comm events, line errors, control calls and device loss, driven through a
// fake backend that raises what a pseudo-terminal cannot.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "comm/comm_backend.h"
#include "overlapped_event.h"
#include "win32_test_hooks.h"

namespace {

using chipload::win32::comm::CommBackend;
using chipload::win32::comm::CommEventSink;
using chipload::win32::comm::Wakeup;

// What the test sees of the fake while the device owns it.
struct FakeState {
    std::atomic<CommEventSink*> sink{nullptr};
    std::atomic<DWORD> readFailure{ERROR_SUCCESS};
    std::atomic<bool> writesBlock{false};
    std::atomic<int> writesStarted{0};
    std::atomic<int> applied{0};
    std::atomic<DWORD> lastEscape{0};
    std::atomic<DWORD> modemStatus{0};
    std::atomic<bool> refuseSettings{false};
    int kick = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);  // wakes a blocked read or write
    std::mutex mutex;
    std::vector<BYTE> written;

    ~FakeState() { close(kick); }
    void wakeBackend() {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto ignored = write(kick, &one, sizeof one);
    }
};

class FakeBackend final : public CommBackend {
  public:
    explicit FakeBackend(FakeState& state) : state_(state) {}

    DWORD start(CommEventSink& sink) override {
        state_.sink.store(&sink);
        return ERROR_SUCCESS;
    }
    DWORD read(std::span<BYTE>, std::size_t& received, int timeoutMs, const Wakeup& wake) override {
        received = 0;
        pollfd fds[2] = {{wake.fd(), POLLIN, 0}, {state_.kick, POLLIN, 0}};
        poll(fds, 2, timeoutMs);
        return state_.readFailure.load();
    }
    DWORD write(std::span<const BYTE> data, std::size_t& written, const Wakeup& wake) override {
        ++state_.writesStarted;
        written = 0;
        if (state_.writesBlock.load()) {
            pollfd fd{wake.fd(), POLLIN, 0};
            poll(&fd, 1, -1);
            return ERROR_OPERATION_ABORTED;
        }
        std::lock_guard lock(state_.mutex);
        state_.written.insert(state_.written.end(), data.begin(), data.end());
        written = data.size();
        return ERROR_SUCCESS;
    }
    DWORD readSettings(DCB& dcb) override {
        dcb.BaudRate = 19200;
        return ERROR_SUCCESS;
    }
    DWORD applySettings(const DCB&) override {
        ++state_.applied;
        return state_.refuseSettings.load() ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    DWORD escape(DWORD function) override {
        state_.lastEscape.store(function);
        return ERROR_SUCCESS;
    }
    DWORD modemStatus(DWORD& status) override {
        status = state_.modemStatus.load();
        return ERROR_SUCCESS;
    }
    DWORD purge(DWORD) override { return ERROR_SUCCESS; }

  private:
    FakeState& state_;
};

class CommEvents : public ::testing::Test {
  protected:
    void SetUp() override {
        handle = chipload::win32::openCommBackend(std::make_unique<FakeBackend>(fake), "fake");
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { CloseHandle(handle); }
    void raise(DWORD events, DWORD errors) { fake.sink.load()->commEvents(events, errors); }
    void startWait(DWORD& mask, Overlapped& o) {
        ASSERT_FALSE(WaitCommEvent(handle, &mask, &o.ov));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    }
    DWORD resultOf(Overlapped& o) {
        DWORD n = 0;
        return GetOverlappedResult(handle, &o.ov, &n, TRUE) ? ERROR_SUCCESS : GetLastError();
    }

    FakeState fake;
    HANDLE handle = INVALID_HANDLE_VALUE;
};

TEST_F(CommEvents, ModemChangesReachThePendingWaitThroughTheMask) {
    ASSERT_TRUE(SetCommMask(handle, EV_CTS | EV_DSR | EV_ERR));
    DWORD mask = 0;
    Overlapped e;
    startWait(mask, e);
    raise(EV_RING, 0);  // not asked for
    EXPECT_FALSE(e.completesWithin(20));
    raise(EV_CTS | EV_DSR | EV_RING, 0);
    ASSERT_TRUE(e.completesWithin(1000));
    EXPECT_EQ(resultOf(e), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS | EV_DSR));

    // Seen with no wait pending: kept for the next wait, forgotten on a new mask.
    raise(EV_DSR, 0);
    EXPECT_TRUE(WaitCommEvent(handle, &mask, &e.ov));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_DSR));
    raise(EV_CTS, 0);
    ASSERT_TRUE(SetCommMask(handle, EV_CTS));
    EXPECT_FALSE(WaitCommEvent(handle, &mask, &e.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    // Only one wait at a time.
    Overlapped second;
    DWORD other = 0;
    EXPECT_FALSE(WaitCommEvent(handle, &other, &second.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(CommEvents, LineErrorsAndBreaksAreKeptUntilCleared) {
    ASSERT_TRUE(SetCommMask(handle, EV_ERR | EV_BREAK));
    DWORD mask = 0;
    Overlapped e;
    startWait(mask, e);
    raise(EV_ERR, CE_FRAME | CE_OVERRUN);
    ASSERT_TRUE(e.completesWithin(1000));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_ERR));
    raise(EV_BREAK, CE_BREAK);
    DWORD errors = 0;
    COMSTAT status;
    std::memset(&status, 0xFF, sizeof status);  // every field must be written
    ASSERT_TRUE(ClearCommError(handle, &errors, &status));
    EXPECT_EQ(errors, static_cast<DWORD>(CE_FRAME | CE_OVERRUN | CE_BREAK));
    EXPECT_EQ(status.cbInQue, 0u);
    EXPECT_EQ(status.cbOutQue, 0u);
    EXPECT_EQ(status.fCtsHold, 0u);
    ASSERT_TRUE(ClearCommError(handle, &errors, nullptr));
    EXPECT_EQ(errors, 0u);
    EXPECT_TRUE(WaitCommEvent(handle, &mask, &e.ov));
    EXPECT_EQ(mask, static_cast<DWORD>(EV_BREAK));
}

TEST_F(CommEvents, ControlCallsReachTheBackendOnlyWhenValid) {
    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);  // from the device
    EXPECT_EQ(dcb.fBinary, 1u);       // Windows defaults for the rest
    EXPECT_EQ(dcb.ByteSize, 8);
    dcb.ByteSize = 4;
    EXPECT_FALSE(SetCommState(handle, &dcb));
    EXPECT_EQ(fake.applied.load(), 0);
    dcb.ByteSize = 7;
    fake.refuseSettings = true;
    EXPECT_FALSE(SetCommState(handle, &dcb));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    DCB kept{};
    GetCommState(handle, &kept);
    EXPECT_EQ(kept.ByteSize, 8);
    fake.refuseSettings = false;
    EXPECT_TRUE(SetCommState(handle, &dcb));
    GetCommState(handle, &kept);
    EXPECT_EQ(kept.ByteSize, 7);

    EXPECT_TRUE(EscapeCommFunction(handle, CLRDTR));
    EXPECT_EQ(fake.lastEscape.load(), static_cast<DWORD>(CLRDTR));
    EXPECT_TRUE(SetCommBreak(handle));
    EXPECT_EQ(fake.lastEscape.load(), static_cast<DWORD>(SETBREAK));
    fake.modemStatus = MS_CTS_ON | MS_RLSD_ON;
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(handle, &status));
    EXPECT_EQ(status, static_cast<DWORD>(MS_CTS_ON | MS_RLSD_ON));
}

TEST_F(CommEvents, AWriteAbortedMidwayDoesNotAbortTheNextOne) {
    fake.writesBlock = true;
    Overlapped w;
    DWORD n = 0;
    EXPECT_FALSE(WriteFile(handle, "first", 5, &n, &w.ov));
    while (fake.writesStarted.load() == 0) {
        Sleep(1);
    }
    COMSTAT status{};
    ClearCommError(handle, nullptr, &status);
    EXPECT_EQ(status.cbOutQue, 5u);
    ASSERT_TRUE(PurgeComm(handle, PURGE_TXABORT));
    ASSERT_TRUE(w.completesWithin(1000));
    EXPECT_EQ(resultOf(w), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    fake.writesBlock = false;
    Overlapped next;
    EXPECT_FALSE(WriteFile(handle, "second", 6, &n, &next.ov));
    ASSERT_TRUE(next.completesWithin(1000));
    ASSERT_TRUE(GetOverlappedResult(handle, &next.ov, &n, FALSE));
    EXPECT_EQ(n, 6u);
    std::lock_guard lock(fake.mutex);
    EXPECT_EQ(std::string(fake.written.begin(), fake.written.end()), "second");
}

TEST_F(CommEvents, ALostDeviceFailsPendingAndLaterCallsAlike) {
    ASSERT_TRUE(SetCommMask(handle, EV_CTS));
    BYTE buffer[8];
    DWORD mask = 0;
    DWORD n = 0;
    Overlapped r;
    Overlapped e;
    EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &n, &r.ov));
    startWait(mask, e);
    EXPECT_FALSE(GetOverlappedResult(handle, &r.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    fake.readFailure = ERROR_BAD_COMMAND;
    fake.wakeBackend();
    ASSERT_TRUE(r.completesWithin(1000));
    ASSERT_TRUE(e.completesWithin(1000));
    EXPECT_EQ(resultOf(r), static_cast<DWORD>(ERROR_BAD_COMMAND));
    EXPECT_EQ(resultOf(e), static_cast<DWORD>(ERROR_BAD_COMMAND));
    EXPECT_FALSE(SetCommMask(handle, EV_CTS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_COMMAND));
    EXPECT_FALSE(WriteFile(handle, "x", 1, &n, &r.ov));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_COMMAND));
}

TEST_F(CommEvents, InjectedFailuresCoverEveryDeviceCallButClose) {
    chipload::win32::failNextCalls(handle, 3, ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetFileType(handle), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DWORD status = 0;
    EXPECT_FALSE(GetCommModemStatus(handle, &status));
    EXPECT_FALSE(SetupComm(handle, 4096, 4096));
    EXPECT_TRUE(SetupComm(handle, 4096, 4096));
    chipload::win32::failNextCalls(handle, 1, ERROR_SUCCESS);
    SetLastError(ERROR_TIMEOUT);
    EXPECT_FALSE(PurgeComm(handle, PURGE_RXCLEAR));
    EXPECT_EQ(GetLastError(), 0u);
    chipload::win32::failNextCalls(handle, 5, ERROR_GEN_FAILURE);
    EXPECT_TRUE(CloseHandle(handle));
    handle = chipload::win32::openCommBackend(std::make_unique<FakeBackend>(fake), "fake");
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);  // the name is free again
}

}  // namespace
