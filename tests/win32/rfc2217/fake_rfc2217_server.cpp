#include "fake_rfc2217_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace chipload::rfc2217::testing {

FakeRfc2217Server::FakeRfc2217Server() : FakeRfc2217Server(Options{}) {}

FakeRfc2217Server::FakeRfc2217Server(Options options)
    : options_(options),
      negotiator_(
          {telnet::kOptionBinary, telnet::kOptionSuppressGoAhead},
          options.acceptComPort
              ? std::initializer_list<std::uint8_t>{telnet::kOptionBinary, telnet::kOptionComPort}
              : std::initializer_list<std::uint8_t>{telnet::kOptionBinary}) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("fake RFC 2217 server cannot listen");
    }
    port_ = ntohs(address.sin_port);
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread(&FakeRfc2217Server::serve, this);
}

FakeRfc2217Server::~FakeRfc2217Server() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
    }
    const std::uint64_t one = 1;
    (void)!::write(stopFd_, &one, sizeof one);
    thread_.join();
    if (client_ >= 0) {
        ::close(client_);
    }
    ::close(listener_);
    ::close(stopFd_);
}

std::string FakeRfc2217Server::device() const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

void FakeRfc2217Server::serve() {
    pollfd waitAccept[2] = {{listener_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(waitAccept, 2, -1) <= 0 || (waitAccept[1].revents & POLLIN) != 0) {
        return;
    }
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int small = 256 * 1024;  // still above the loopback segment size
    ::setsockopt(client, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    {
        std::lock_guard lock(mutex_);
        client_ = client;
    }
    Bytes opening;
    negotiator_.start(opening);
    sendRaw(opening);
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !paused_ || stopping_; });
        }
        pollfd fds[2] = {{client, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) <= 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        const ssize_t n = ::recv(client, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            return;  // dropped by us or by the client
        }
        parser_.feed(std::span(buffer.data(), static_cast<std::size_t>(n)), *this);
    }
}

void FakeRfc2217Server::sendRaw(const Bytes& bytes) {
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
        (void)!::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
}

void FakeRfc2217Server::sendData(const Bytes& data) {
    Bytes wire;
    appendData(wire, data, true);
    sendRaw(wire);
}

void FakeRfc2217Server::sendModemState(std::uint8_t state) {
    Bytes wire;
    appendNotifyModemState(wire, state);
    sendRaw(wire);
}

void FakeRfc2217Server::sendLineState(std::uint8_t state) {
    Bytes wire;
    appendNotifyLineState(wire, state);
    sendRaw(wire);
}

void FakeRfc2217Server::drop() {
    // The descriptor stays open until the server thread is gone.
    std::lock_guard lock(mutex_);
    if (client_ >= 0) {
        ::shutdown(client_, SHUT_RDWR);
    }
}

void FakeRfc2217Server::pauseReading(bool paused) {
    std::lock_guard lock(mutex_);
    paused_ = paused;
    changed_.notify_all();
}

void FakeRfc2217Server::onData(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
}

void FakeRfc2217Server::onNegotiation(std::uint8_t verb, std::uint8_t option) {
    Bytes answer;
    negotiator_.receive(verb, option, answer);
    sendRaw(answer);
}

void FakeRfc2217Server::onSubnegotiation(std::uint8_t option,
                                         std::span<const std::uint8_t> payload) {
    if (option != telnet::kOptionComPort || payload.empty()) {
        return;
    }
    ClientCommand command{payload[0], 0};
    for (const std::uint8_t b : payload.subspan(1)) {
        command.value = command.value << 8 | b;
    }
    {
        std::lock_guard lock(mutex_);
        commands_.push_back(command);
        dataBeforeCommand_.push_back(data_.size());
        changed_.notify_all();
    }
    // Confirm what was asked, as a server that took it would; value 0 is a
    // question, answered with what a fresh port has.
    Bytes reply;
    const auto sender = Sender::Server;
    switch (static_cast<ComPortCommand>(command.code)) {
        case ComPortCommand::SetBaudRate:
            appendSetBaudRate(
                reply, sender,
                options_.keptBaud.value_or(command.value == 0 ? 9600 : command.value));
            break;
        case ComPortCommand::SetDataSize:
            appendSetDataSize(reply, sender,
                              static_cast<std::uint8_t>(command.value ? command.value : 8));
            break;
        default:
            appendComPort(reply, sender, static_cast<ComPortCommand>(command.code),
                          payload.subspan(1));
            break;
    }
    sendRaw(reply);
}

bool FakeRfc2217Server::waitFor(std::chrono::milliseconds timeout,
                                const std::function<bool()>& done) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, done);
}

bool FakeRfc2217Server::waitForCommand(ClientCommand command, std::chrono::milliseconds timeout) {
    return waitFor(timeout, [&] {
        return std::find(commands_.begin(), commands_.end(), command) != commands_.end();
    });
}

std::vector<FakeRfc2217Server::ClientCommand> FakeRfc2217Server::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::optional<std::size_t> FakeRfc2217Server::dataBefore(ClientCommand command) const {
    std::lock_guard lock(mutex_);
    const auto found = std::find(commands_.begin(), commands_.end(), command);
    if (found == commands_.end()) {
        return std::nullopt;
    }
    return dataBeforeCommand_[static_cast<std::size_t>(found - commands_.begin())];
}

bool FakeRfc2217Server::waitForData(std::size_t count, std::chrono::milliseconds timeout) {
    return waitFor(timeout, [&] { return data_.size() >= count; });
}

Bytes FakeRfc2217Server::data() const {
    std::lock_guard lock(mutex_);
    return data_;
}

}  // namespace chipload::rfc2217::testing
