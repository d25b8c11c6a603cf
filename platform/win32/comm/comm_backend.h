// The narrow interface between the generic comm device (overlapped reads and
// writes, comm events, time-outs, purge, close: everything Windows-like) and
// one kind of device. A backend only moves bytes and drives the line.
//
// Threading: the generic layer calls read() from one reader thread and write()
// from one writer thread; those two may run at the same time as each other and
// as the control calls (readSettings, applySettings, escape, modemStatus,
// purge), which the generic layer never runs two at a time. start() comes
// first, once; the destructor comes last, after read() and write() have
// returned for good.
//
// Errors are Windows error codes (ERROR_SUCCESS on success). A device that has
// gone away (adapter unplugged, connection dropped, pty master closed) answers
// with ERROR_BAD_COMMAND, which the generic layer then gives to every pending
// and later call on the handle, as Windows does for a vanished USB adapter.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>

namespace chipload::win32::comm {

// Makes a blocking backend call return early without busy waiting. A backend
// that blocks adds fd() to its poll() set (readable means "return now") and
// never reads from it; the owner (the generic layer) re-arms it.
class Wakeup {
  public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    int fd() const noexcept { return fd_; }
    void wake() noexcept;   // any thread; idempotent until clear()
    void clear() noexcept;  // owner only

  private:
    int fd_;
};

// What a backend reports without being asked. May be called from any thread
// the backend owns (including inside read()), at any time between start() and
// the end of the destructor; it never blocks for long and never calls back
// into the backend.
class CommEventSink {
  public:
    // events: any of EV_CTS, EV_DSR, EV_RLSD, EV_RING (a modem line changed),
    // EV_BREAK (with CE_BREAK in lineErrors), EV_ERR (with CE_FRAME, CE_OVERRUN,
    // CE_RXPARITY in lineErrors). lineErrors accumulate until ClearCommError.
    virtual void commEvents(DWORD events, DWORD lineErrors) = 0;

  protected:
    ~CommEventSink() = default;
};

class CommBackend {
  public:
    virtual ~CommBackend() = default;

    // Begins reporting through sink (start helper threads here). The sink
    // outlives the backend.
    virtual DWORD start(CommEventSink& sink) = 0;

    // Waits until at least one data byte is available, timeoutMs passes
    // (timeoutMs < 0: no limit) or wake fires, then returns ERROR_SUCCESS with
    // up to buffer.size() data bytes in buffer and their count in received
    // (0 is fine: time-out, wake, or only protocol traffic arrived). Returns an
    // error code only when the device can no longer be read; it is not called
    // again after that.
    virtual DWORD read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
                       const Wakeup& wake) = 0;

    // Blocks until every byte of data has been handed to the device (written
    // counts the caller's bytes, not any protocol escaping), or wake fires
    // (ERROR_OPERATION_ABORTED, written = what went out so far), or the device
    // fails (its error code).
    virtual DWORD write(std::span<const BYTE> data, std::size_t& written, const Wakeup& wake) = 0;

    // The device's current line settings, for the DCB that GetCommState shows
    // right after open. Fill what the device knows; the generic layer has
    // already put Windows defaults in every field.
    virtual DWORD readSettings(DCB& dcb) = 0;

    // Applies BaudRate, ByteSize, Parity, fParity (check received parity),
    // StopBits, fOutxCtsFlow, fOutxDsrFlow,
    // fDsrSensitivity, fOutX, fInX, XonChar, XoffChar, fDtrControl and
    // fRtsControl (ENABLE raises the line, DISABLE lowers it, HANDSHAKE and
    // TOGGLE are flow control). The generic layer has checked the Windows
    // ranges (baud > 0, 5..8 data bits, parity 0..4, stop bits 0..2 in the
    // combinations Windows allows, distinct XON/XOFF characters when XON/XOFF
    // is on). ERROR_INVALID_PARAMETER for anything the device cannot do; other
    // fields are the generic layer's (fBinary, fNull, EvtChar, ...).
    virtual DWORD applySettings(const DCB& dcb) = 0;

    // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK, SETXON, SETXOFF
    // (RESETDEV is answered by the generic layer). A device without modem
    // lines accepts the line functions and changes nothing.
    virtual DWORD escape(DWORD function) = 0;

    // MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON as currently known;
    // 0 for a device without modem lines.
    virtual DWORD modemStatus(DWORD& status) = 0;

    // PURGE_TXCLEAR / PURGE_RXCLEAR: drop what the device still holds in that
    // direction. The abort bits are the generic layer's (it wakes read() and
    // write() itself); ignore them.
    virtual DWORD purge(DWORD flags) = 0;
};

// rfc2217://HOST:PORT devices; hostPort is "HOST:PORT". On failure returns
// null and sets error (ERROR_FILE_NOT_FOUND for a host or port that cannot be
// reached, ERROR_INVALID_PARAMETER for a malformed address).
std::unique_ptr<CommBackend> openRfc2217Backend(const std::string& hostPort, DWORD& error);

}  // namespace chipload::win32::comm
