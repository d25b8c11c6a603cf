// A comm device of the test's own making: reads return what the test feeds in, writes are
// recorded chunk by chunk, modem status and line events are raised on demand.
#pragma once

#include <comm/comm_backend.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace serialtest {

class FakeCommBackend final : public chipload::win32::comm::CommBackend {
  public:
    struct Shared {
        Shared();
        ~Shared();
        Shared(const Shared&) = delete;
        Shared& operator=(const Shared&) = delete;

        std::mutex mutex;
        std::vector<std::vector<BYTE>> writes;
        std::atomic<DWORD> modemStatus{0};
        chipload::win32::comm::CommEventSink* sink = nullptr;
        int input[2] = {-1, -1};  // a pipe: the test writes, read() takes
    };
    explicit FakeCommBackend(Shared& shared) : shared_(shared) {}

    DWORD start(chipload::win32::comm::CommEventSink& sink) override;
    DWORD read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
               const chipload::win32::comm::Wakeup& wake) override;
    DWORD write(std::span<const BYTE> data, std::size_t& written,
                const chipload::win32::comm::Wakeup& wake) override;
    DWORD readSettings(DCB& dcb) override;
    DWORD applySettings(const DCB& dcb) override;
    DWORD escape(DWORD function) override;
    DWORD modemStatus(DWORD& status) override;
    DWORD purge(DWORD flags) override;

  private:
    Shared& shared_;
};

// A comm handle over a FakeCommBackend; closed on destruction.
class FakeDevice {
  public:
    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    HANDLE handle() const { return handle_; }
    void setModemStatus(DWORD status) { shared_.modemStatus = status; }
    // Reports comm events as a device would (EV_ERR with CE_ line errors, EV_CTS, ...).
    void raise(DWORD events, DWORD lineErrors);
    std::vector<std::vector<BYTE>> writes();
    // Bytes the device receives, as from the line.
    void feed(const std::string& bytes);

  private:
    FakeCommBackend::Shared shared_;
    HANDLE handle_;
};

}  // namespace serialtest
