// A small client for the simulator's transports, for tests and benchmarks:
// reads with a deadline, and speaks just enough RFC 2217 to drive the lines.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "posix_io.hpp"
#include "sim_wire.hpp"
#include "telnet.hpp"

namespace stm32sim::test {

using namespace std::chrono_literals;

// Reads until `count` data bytes came, the peer closed, or the time is up.
struct Received {
    Bytes data;
    bool closed = false;
};

inline Received read_from(int fd, std::size_t count, telnet::Parser* telnet_parser,
                          std::chrono::milliseconds limit = 2000ms) {
    Received got;
    const auto deadline = Clock::now() + limit;
    while (got.data.size() < count && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0) {
            continue;
        }
        std::uint8_t buffer[512];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            got.closed = true;
            break;
        }
        const Bytes chunk(buffer, buffer + n);
        if (!telnet_parser) {
            got.data.insert(got.data.end(), chunk.begin(), chunk.end());
            continue;
        }
        for (const telnet::Event& event : telnet_parser->feed(chunk)) {
            if (const auto* data = std::get_if<telnet::Data>(&event)) {
                got.data.insert(got.data.end(), data->bytes.begin(), data->bytes.end());
            }
        }
    }
    return got;
}

inline bool write_all(int fd, const Bytes& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

class Rfc2217Client {
  public:
    explicit Rfc2217Client(std::uint16_t port)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int yes = 1;  // measured pacing must not wait for coalescing
        ::setsockopt(fd_.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        connected_ =
            ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    bool connected() const { return connected_; }
    int fd() const { return fd_.get(); }

    void com_port(std::uint8_t command, const Bytes& value) {
        Bytes out;
        telnet::append_com_port(out, command, value);
        write_all(fd(), out);
    }
    void control(std::uint8_t value) { com_port(telnet::set_control, Bytes{value}); }
    // The reset the program does: RTS on (BOOT0), a DTR pulse.
    void reset_into_bootloader() {
        write_all(fd(), Bytes{telnet::iac, telnet::will, telnet::option_com_port});
        control(11);
        control(8);
        control(9);
    }
    void send(const Bytes& data) {
        Bytes out;
        telnet::append_data(out, data);
        write_all(fd(), out);
    }
    Received receive(std::size_t count, std::chrono::milliseconds limit = 2000ms) {
        return read_from(fd(), count, &parser_, limit);
    }

  private:
    UniqueFd fd_;
    bool connected_ = false;
    telnet::Parser parser_;
};

}  // namespace stm32sim::test
