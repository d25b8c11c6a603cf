// The comm backend for rfc2217://HOST:PORT devices: a serial port on the far
// side of a Telnet connection (RFC 2217).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "comm/comm_backend.h"
#include "telnet_link.h"

namespace chipload::rfc2217 {

class Rfc2217Backend final : public win32::comm::CommBackend {
  public:
    // How long a setting may take to be confirmed by the server.
    static constexpr std::chrono::milliseconds kReplyTimeout{2000};

    // Takes a connected socket.
    explicit Rfc2217Backend(int socket);

    // Negotiates the options and asks for line and modem notifications.
    DWORD connect(std::chrono::milliseconds timeout);

    DWORD start(win32::comm::CommEventSink& sink) override;
    DWORD read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
               const win32::comm::Wakeup& wake) override;
    DWORD write(std::span<const BYTE> data, std::size_t& written,
                const win32::comm::Wakeup& wake) override;
    DWORD readSettings(DCB& dcb) override;
    DWORD applySettings(const DCB& dcb) override;
    DWORD escape(DWORD function) override;
    DWORD modemStatus(DWORD& status) override;
    DWORD purge(DWORD flags) override;

  private:
    void onNotify(const ComPortReply& reply);
    void report(DWORD events, DWORD lineErrors);

    std::atomic<win32::comm::CommEventSink*> sink_{nullptr};
    std::atomic<std::uint8_t> modemState_{0};
    bool haveModemState_ = false;  // reader thread only
    TelnetLink link_;              // last: its reader thread uses the members above
};

}  // namespace chipload::rfc2217
