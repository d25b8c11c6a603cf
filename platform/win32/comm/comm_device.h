// A comm device handle: the Windows side of a serial port (overlapped reads and
// writes, the read time-outs, comm events and line errors, purge, close) over
// one CommBackend that only moves bytes and drives the line.
//
// Inside, a reader thread keeps pulling bytes from the backend into the input
// queue (as a driver fills its buffer) and serves pending reads and their
// time-outs; a writer thread hands pending writes to the backend in order.
// Both sleep in the backend's poll() until there is work; nothing polls.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "comm/comm_backend.h"
#include "src/handles.h"

namespace chipload::win32::comm {

class CommDevice : public KernelObject, private CommEventSink {
  public:
    CommDevice(std::unique_ptr<CommBackend> backend, std::string name);
    ~CommDevice() override;

    // Starts the backend and the device's threads; an error code on failure.
    DWORD start();
    const std::string& name() const { return name_; }

    void handleClosed() override;

    // Each returns ERROR_SUCCESS, ERROR_IO_PENDING (overlapped calls), or an
    // error code; the entry points turn that into BOOL and SetLastError.
    DWORD read(BYTE* buffer, DWORD size, DWORD& transferred, OVERLAPPED* overlapped);
    DWORD write(const BYTE* data, DWORD size, DWORD& transferred, OVERLAPPED* overlapped);
    DWORD waitCommEvent(DWORD* mask, OVERLAPPED* overlapped);
    DWORD overlappedResult(OVERLAPPED* overlapped, DWORD& transferred, bool wait);
    DWORD cancel();
    DWORD setupQueues(DWORD inQueue);
    DWORD purge(DWORD flags);
    DWORD getState(DCB& dcb);
    DWORD setState(const DCB& dcb);
    DWORD getTimeouts(COMMTIMEOUTS& timeouts);
    DWORD setTimeouts(const COMMTIMEOUTS& timeouts);
    DWORD setMask(DWORD mask);
    DWORD getMask(DWORD& mask);
    DWORD clearError(DWORD* errors, COMSTAT* status);
    DWORD modemStatus(DWORD& status);
    DWORD escape(DWORD function);

    // Test hook: the next `count` calls fail with `error`.
    void failNextCalls(int count, DWORD error);
    // Test hook: the `count` calls after the next `skip` fail with `error`.
    void failCallsAfter(int skip, int count, DWORD error);
    // Consumes one injected failure, if any.
    std::optional<DWORD> injectedFailure();

  private:
    using Clock = std::chrono::steady_clock;

    struct PendingRead {
        OVERLAPPED* key = nullptr;
        HANDLE event = nullptr;
        BYTE* buffer = nullptr;
        DWORD size = 0;
        DWORD done = 0;
        std::optional<Clock::time_point> intervalDeadline;
        std::optional<Clock::time_point> totalDeadline;
        bool returnFirstByte = false;  // MAXDWORD interval with a total time-out
    };
    struct PendingWrite {
        OVERLAPPED* key;
        HANDLE event;
        std::vector<BYTE> data;
        bool finished = false;
    };
    struct PendingWait {
        OVERLAPPED* key;
        HANDLE event;
        DWORD* mask;
    };
    struct Result {
        bool complete = false;
        DWORD error = ERROR_SUCCESS;
        DWORD transferred = 0;
    };

    void commEvents(DWORD events, DWORD lineErrors) override;

    void readerLoop();
    void writerLoop();
    int readerTimeoutLocked(Clock::time_point now) const;
    void deliverInputLocked(Clock::time_point now);
    void expireReadsLocked(Clock::time_point now);
    void recordEventsLocked(DWORD events);
    void completeLocked(OVERLAPPED* key, HANDLE event, DWORD error, DWORD transferred);
    void abortReadsLocked(DWORD error);
    void abortWritesLocked(DWORD error);
    void abortWaitLocked(DWORD error, DWORD mask);
    void failLocked(DWORD error);
    DWORD usableLocked() const;  // ERROR_SUCCESS, or why the device cannot be used
    DWORD usable() const;        // the same, taking the lock
    template <typename T>
    DWORD copyWhileUsable(T& out, const T& field) const;
    DWORD syncWait(OVERLAPPED& local, DWORD& transferred);
    PendingRead makeRead(OVERLAPPED* key, HANDLE event, BYTE* buffer, DWORD size,
                         Clock::time_point now) const;

    const std::string name_;
    std::unique_ptr<CommBackend> backend_;
    Wakeup readerWake_;
    Wakeup writerWake_;
    std::thread reader_;
    std::thread writer_;
    std::mutex controlMutex_;  // one backend control call at a time

    mutable std::mutex mutex_;
    std::condition_variable changed_;  // results, queue space, writes, shutdown
    bool closed_ = false;
    DWORD failure_ = ERROR_SUCCESS;
    int injectedSkip_ = 0;
    int injectedCount_ = 0;
    DWORD injectedError_ = ERROR_SUCCESS;
    DCB dcb_{};
    COMMTIMEOUTS timeouts_{};
    DWORD mask_ = 0;
    DWORD history_ = 0;  // masked events not yet reported
    DWORD lineErrors_ = 0;
    std::size_t inCapacity_;
    std::deque<BYTE> input_;
    std::deque<PendingRead> reads_;
    std::deque<std::shared_ptr<PendingWrite>> writes_;
    std::optional<PendingWait> wait_;
    std::map<OVERLAPPED*, Result> results_;
};

}  // namespace chipload::win32::comm
