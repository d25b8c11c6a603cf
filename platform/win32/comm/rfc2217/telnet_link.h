// One Telnet connection carrying RFC 2217: the socket, the thread that reads
// it, the send path and the bookkeeping of server replies. It speaks in
// protocol terms; rfc2217_backend.cpp turns that into Windows behaviour.
//
// The reader thread always reads the socket, so server replies arrive even
// while nobody reads line data; it stops taking data (TCP then holds the
// sender back) only when kReceiveLimit bytes wait unread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "com_port_reply.h"
#include "comm/comm_backend.h"
#include "option_negotiator.h"
#include "telnet_encoder.h"
#include "telnet_parser.h"

namespace chipload::rfc2217 {

class TelnetLink : private TelnetParser::Sink {
  public:
    enum class Status { Ok, Aborted, TimedOut, Failed };
    using NotifyHandler = std::function<void(const ComPortReply&)>;

    static constexpr std::size_t kReceiveLimit = 64 * 1024;

    // Takes ownership of a connected socket. notify receives, on the reader
    // thread, every NOTIFY-MODEMSTATE and NOTIFY-LINESTATE.
    TelnetLink(int socket, NotifyHandler notify);
    ~TelnetLink() override;
    TelnetLink(const TelnetLink&) = delete;
    TelnetLink& operator=(const TelnetLink&) = delete;

    // Starts the reader thread, offers BINARY, SGA and COM-PORT-OPTION and
    // waits until the server has answered all (or the time-out). Ok if it took
    // the com port option; Failed if it refused or the connection dropped.
    Status negotiate(std::chrono::milliseconds timeout);

    // Waits up to timeoutMs (< 0: no limit) for line data unless wakeFd
    // becomes readable; Ok with 0 bytes on time-out or wake. Failed once the
    // connection is gone and everything it delivered has been taken.
    Status receive(std::span<std::uint8_t> out, std::size_t& received, int timeoutMs, int wakeFd);

    // Sends line data, IAC escaped. written counts data bytes that went out
    // whole; Aborted when wakeFd became readable first.
    Status send(std::span<const std::uint8_t> data, std::size_t& written, int wakeFd);

    // Sends encoded com port commands, then waits for one reply to each
    // command in awaited (a command may be listed more than once) and gives
    // the replies in that order.
    Status request(const Bytes& commands, std::span<const ComPortCommand> awaited,
                   std::vector<ComPortReply>& replies, std::chrono::milliseconds timeout);

    // Sends encoded commands without waiting for replies.
    Status command(const Bytes& commands);

    // Drops line data received but not yet taken.
    void discardReceived();

    bool failed() const;

  private:
    void onData(std::span<const std::uint8_t> bytes) override;
    void onNegotiation(std::uint8_t verb, std::uint8_t option) override;
    void onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) override;

    void readerLoop();
    void fail();
    std::size_t takeLocked(std::span<std::uint8_t> out);
    enum class Push { Done, Full, Failed };
    // With sendMutex_ held, without waiting: owed_ first, then bytes; sent
    // counts the latter.
    Push pushLocked(std::span<const std::uint8_t> bytes, std::size_t& sent);
    // Without sendMutex_: until the socket has room, wakeFd (< 0: none) is
    // readable, or the deadline passes.
    Status waitWritable(int wakeFd, std::optional<std::chrono::steady_clock::time_point> deadline);

    const int socket_;
    const NotifyHandler notify_;
    std::thread reader_;
    std::atomic<bool> stopping_{false};
    chipload::win32::comm::Wakeup stop_;       // the link is being destroyed
    chipload::win32::comm::Wakeup roomAgain_;  // data was taken from a full queue
    chipload::win32::comm::Wakeup dataReady_;  // data waiting, or connection gone

    // Reader thread only.
    TelnetParser parser_;
    OptionNegotiator negotiator_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool failed_ = false;
    bool settled_ = false;
    bool comPortAccepted_ = false;
    std::deque<std::uint8_t> received_;
    struct AwaitedReply {
        ComPortCommand command;
        std::optional<std::uint32_t> value;
    };
    std::vector<AwaitedReply> awaited_;  // the request in progress

    std::mutex requestMutex_;  // one request at a time

    std::mutex sendMutex_;
    std::atomic<bool> localBinary_{false};
    Bytes owed_;  // the tail of a unit cut short; goes out first
};

}  // namespace chipload::rfc2217
