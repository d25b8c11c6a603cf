#include "telnet_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace chipload::rfc2217 {

namespace {

using Clock = std::chrono::steady_clock;

// How long a command may wait for room in the socket: a slow line behind a
// full socket, or a server that stopped reading. The call then fails; the
// link stays usable.
constexpr int kCommandSendTimeoutMs = 2000;

int msUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool readable(const pollfd& p) {
    return (p.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
}

// The length a data byte has on the wire.
std::size_t encodedLength(std::uint8_t b, bool binary) {
    return (b == telnet::kIac || (b == '\r' && !binary)) ? 2 : 1;
}

}  // namespace

TelnetLink::TelnetLink(int socket, NotifyHandler notify)
    : socket_(socket),
      notify_(std::move(notify)),
      negotiator_({telnet::kOptionBinary, telnet::kOptionSuppressGoAhead, telnet::kOptionComPort},
                  {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead}) {}

TelnetLink::~TelnetLink() {
    stopping_ = true;
    stop_.wake();
    if (reader_.joinable()) {
        reader_.join();
    }
    ::close(socket_);
}

TelnetLink::Status TelnetLink::negotiate(std::chrono::milliseconds timeout) {
    Bytes opening;
    negotiator_.start(opening);
    reader_ = std::thread(&TelnetLink::readerLoop, this);
    if (const Status sent = command(opening); sent != Status::Ok) {
        return sent;
    }
    std::unique_lock lock(mutex_);
    // A server that leaves a lesser option unanswered is still usable once it
    // has taken the com port option.
    const bool settled = changed_.wait_for(lock, timeout, [&] { return settled_ || failed_; });
    if (comPortAccepted_ && !failed_) {
        return Status::Ok;
    }
    return settled ? Status::Failed : Status::TimedOut;
}

bool TelnetLink::failed() const {
    std::lock_guard lock(mutex_);
    return failed_;
}

// ---- line data in ----

std::size_t TelnetLink::takeLocked(std::span<std::uint8_t> out) {
    const bool wasFull = received_.size() >= kReceiveLimit;
    const std::size_t count = std::min(out.size(), received_.size());
    std::copy_n(received_.begin(), count, out.begin());
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
    if (received_.empty() && !failed_) {
        dataReady_.clear();
    }
    if (wasFull && received_.size() < kReceiveLimit) {
        roomAgain_.wake();
    }
    return count;
}

TelnetLink::Status TelnetLink::receive(std::span<std::uint8_t> out, std::size_t& received,
                                       int timeoutMs, int wakeFd) {
    received = 0;
    {
        std::lock_guard lock(mutex_);
        if (!received_.empty()) {
            received = takeLocked(out);
            return Status::Ok;
        }
        if (failed_) {
            return Status::Failed;
        }
    }
    pollfd fds[2] = {{dataReady_.fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    while (::poll(fds, 2, timeoutMs) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    received = takeLocked(out);
    return received == 0 && failed_ ? Status::Failed : Status::Ok;
}

void TelnetLink::discardReceived() {
    std::lock_guard lock(mutex_);
    std::array<std::uint8_t, 4096> sink{};
    while (!received_.empty()) {
        takeLocked(sink);
    }
}

// ---- bytes out ----
//
// Nobody waits for room in the socket with sendMutex_ held, so a command can
// go out between two pieces of a long write. A unit cut short (half of an
// escaped data byte, part of a command) leaves its tail in owed_, which goes
// out before anything else.

TelnetLink::Push TelnetLink::pushLocked(std::span<const std::uint8_t> bytes, std::size_t& sent) {
    sent = 0;
    std::size_t owedSent = 0;
    auto pushSome = [&](std::span<const std::uint8_t> what, std::size_t& done) {
        while (done < what.size()) {
            const ssize_t n = ::send(socket_, what.data() + done, what.size() - done,
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return Push::Full;
            } else {
                fail();
                return Push::Failed;
            }
        }
        return Push::Done;
    };
    Push result = pushSome(owed_, owedSent);
    owed_.erase(owed_.begin(), owed_.begin() + static_cast<std::ptrdiff_t>(owedSent));
    if (result == Push::Done) {
        result = pushSome(bytes, sent);
    }
    return result;
}

TelnetLink::Status TelnetLink::waitWritable(int wakeFd, std::optional<Clock::time_point> deadline) {
    for (;;) {
        pollfd fds[3] = {{socket_, POLLOUT, 0}, {stop_.fd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, 3, deadline ? msUntil(*deadline) : -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (stopping_ || failed()) {
            return Status::Failed;
        }
        if (readable(fds[2])) {
            return Status::Aborted;
        }
        return ready == 0 ? Status::TimedOut : Status::Ok;
    }
}

TelnetLink::Status TelnetLink::send(std::span<const std::uint8_t> data, std::size_t& written,
                                    int wakeFd) {
    constexpr std::size_t kSlice = 64 * 1024;
    written = 0;
    Bytes wire;
    while (written < data.size()) {
        {
            std::lock_guard lock(sendMutex_);
            const bool binary = localBinary_;
            const auto slice = data.subspan(written, std::min(kSlice, data.size() - written));
            wire.clear();
            appendData(wire, slice, binary);
            std::size_t sent = 0;
            const Push push = pushLocked(wire, sent);
            // Count the data bytes that went out whole; a byte cut in half
            // counts too, its tail owed.
            std::size_t position = 0;
            for (const std::uint8_t b : slice) {
                const std::size_t length = encodedLength(b, binary);
                if (position + length > sent) {
                    if (position < sent) {
                        owed_.assign(wire.begin() + static_cast<std::ptrdiff_t>(sent),
                                     wire.begin() + static_cast<std::ptrdiff_t>(position + length));
                        ++written;
                    }
                    break;
                }
                position += length;
                ++written;
            }
            if (push == Push::Failed) {
                return Status::Failed;
            }
            if (push == Push::Done) {
                continue;
            }
        }
        if (const Status status = waitWritable(wakeFd, std::nullopt); status != Status::Ok) {
            return status;
        }
    }
    return Status::Ok;
}

TelnetLink::Status TelnetLink::command(const Bytes& commands) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCommandSendTimeoutMs);
    bool committed = false;  // part is out; the rest is owed
    for (;;) {
        {
            std::lock_guard lock(sendMutex_);
            std::size_t sent = 0;
            const Push push =
                pushLocked(committed ? std::span<const std::uint8_t>{} : commands, sent);
            if (push == Push::Failed) {
                return Status::Failed;
            }
            if (!committed && sent > 0 && sent < commands.size()) {
                owed_.assign(commands.begin() + static_cast<std::ptrdiff_t>(sent), commands.end());
                committed = true;
            } else if (push == Push::Done) {
                return Status::Ok;
            }
        }
        const Status status = waitWritable(-1, deadline);
        if (status == Status::TimedOut) {
            return committed ? Status::Ok : Status::TimedOut;
        }
        if (status != Status::Ok) {
            return status;
        }
    }
}

TelnetLink::Status TelnetLink::request(const Bytes& commands,
                                       std::span<const ComPortCommand> awaited,
                                       std::vector<ComPortReply>& replies,
                                       std::chrono::milliseconds timeout) {
    std::lock_guard one(requestMutex_);
    {
        std::lock_guard lock(mutex_);
        awaited_.clear();
        for (const ComPortCommand c : awaited) {
            awaited_.push_back({c, std::nullopt});
        }
    }
    if (const Status sent = command(commands); sent != Status::Ok) {
        return sent;
    }
    std::unique_lock lock(mutex_);
    const bool answered = changed_.wait_for(lock, timeout, [&] {
        return failed_ || std::all_of(awaited_.begin(), awaited_.end(),
                                      [](const AwaitedReply& r) { return r.value.has_value(); });
    });
    std::vector<AwaitedReply> got;
    got.swap(awaited_);
    if (failed_) {
        return Status::Failed;
    }
    if (!answered) {
        return Status::TimedOut;
    }
    replies.clear();
    for (const AwaitedReply& r : got) {
        replies.push_back({r.command, *r.value});
    }
    return Status::Ok;
}

// ---- the reader thread ----

void TelnetLink::fail() {
    std::lock_guard lock(mutex_);
    if (!failed_) {
        failed_ = true;
        dataReady_.wake();
        changed_.notify_all();
    }
}

void TelnetLink::readerLoop() {
    std::array<std::uint8_t, 4096> buffer{};
    while (!stopping_) {
        roomAgain_.clear();  // before looking, so a take after the look still wakes us
        bool room = false;
        {
            std::lock_guard lock(mutex_);
            room = received_.size() < kReceiveLimit;
        }
        pollfd fds[3] = {{socket_, static_cast<short>(room ? POLLIN : 0), 0},
                         {stop_.fd(), POLLIN, 0},
                         {roomAgain_.fd(), POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) {
            break;
        }
        if (stopping_) {
            return;
        }
        if ((fds[0].revents & (POLLIN | POLLERR | POLLHUP)) == 0) {
            continue;
        }
        const ssize_t n = ::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        parser_.feed(std::span(buffer.data(), static_cast<std::size_t>(n)), *this);
    }
    fail();
}

void TelnetLink::onData(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), bytes.begin(), bytes.end());
    dataReady_.wake();
}

void TelnetLink::onNegotiation(std::uint8_t verb, std::uint8_t option) {
    Bytes answer;
    negotiator_.receive(verb, option, answer);
    parser_.setBinary(negotiator_.remoteEnabled(telnet::kOptionBinary));
    localBinary_ = negotiator_.localEnabled(telnet::kOptionBinary);
    {
        std::lock_guard lock(mutex_);
        comPortAccepted_ = negotiator_.localEnabled(telnet::kOptionComPort);
        if (!settled_ && negotiator_.allSettled()) {
            settled_ = true;
            changed_.notify_all();
        }
    }
    if (!answer.empty()) {
        command(answer);
    }
}

void TelnetLink::onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) {
    if (option != telnet::kOptionComPort) {
        return;
    }
    const auto reply = decodeServerComPort(payload);
    if (!reply) {
        return;
    }
    if (reply->command == ComPortCommand::NotifyModemState ||
        reply->command == ComPortCommand::NotifyLineState) {
        notify_(*reply);
        return;
    }
    std::lock_guard lock(mutex_);
    for (AwaitedReply& awaited : awaited_) {
        if (awaited.command == reply->command && !awaited.value) {
            awaited.value = reply->value;
            changed_.notify_all();
            return;
        }
    }
}

}  // namespace chipload::rfc2217
