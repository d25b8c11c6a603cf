#include "stm32sim/rfc2217_server.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <stdexcept>

#include "posix_io.hpp"
#include "rfc2217_session.hpp"
#include "server_thread.hpp"

namespace stm32sim {

struct Rfc2217Server::Impl {
    explicit Impl(Target& t) : target(t) {}

    void run();
    void serve(UniqueFd client);

    Target& target;
    UniqueFd listener;
    std::atomic<std::uint16_t> port{0};
    std::atomic<std::uint64_t> clients{0};
    ServerThread worker{target};  // last: its loop uses all the rest
};

Rfc2217Server::Rfc2217Server(Target& target) : impl_(std::make_unique<Impl>(target)) {}

Rfc2217Server::~Rfc2217Server() {
    stop();
}

void Rfc2217Server::start(const std::string& host, std::uint16_t port) {
    if (impl_->worker.running()) {
        throw std::logic_error("RFC 2217 server already started");
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        throw std::runtime_error("cannot resolve " + host + ": " + ::gai_strerror(rc));
    }
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> addresses(found, ::freeaddrinfo);
    UniqueFd fd(::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        throw_errno("socket");
    }
    const int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd.get(), found->ai_addr, found->ai_addrlen) != 0) {
        throw_errno("bind " + host + ":" + service);
    }
    if (::listen(fd.get(), 4) != 0) {
        throw_errno("listen");
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    const in_port_t net_port = bound.ss_family == AF_INET6
                                   ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&bound)->sin_port;
    impl_->port = ntohs(net_port);
    impl_->listener = std::move(fd);
    impl_->worker.start([impl = impl_.get()] { impl->run(); });
}

void Rfc2217Server::stop() {
    if (!impl_->worker.running()) {
        return;
    }
    impl_->worker.stop();
    impl_->listener.reset();
}

std::uint16_t Rfc2217Server::port() const {
    return impl_->port;
}

std::uint64_t Rfc2217Server::clients_served() const {
    return impl_->clients;
}

void Rfc2217Server::Impl::run() {
    while (!worker.stopping()) {
        std::array<pollfd, 2> fds{{{listener.get(), POLLIN, 0}, {worker.wakeup().fd(), POLLIN, 0}}};
        poll_until(fds, std::nullopt);
        worker.wakeup().drain();
        if (worker.stopping()) {
            break;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        UniqueFd client(::accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!client) {
            continue;  // the client gave up before we took it
        }
        const int yes = 1;  // pacing is the point: no coalescing of small writes
        ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        ++clients;
        serve(std::move(client));
    }
}

void Rfc2217Server::Impl::serve(UniqueFd client) {
    Rfc2217Session session(target);
    target.discard_output(Clock::now());
    std::vector<std::uint8_t> unsent;
    bool hang_up = false;
    while (!worker.stopping() && !hang_up) {
        const auto due = session.suspended() ? std::nullopt : target.next_output_due();
        const short want = static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT));
        std::array<pollfd, 2> fds{{{client.get(), want, 0}, {worker.wakeup().fd(), POLLIN, 0}}};
        poll_until(fds, due);
        worker.wakeup().drain();
        const TimePoint now = Clock::now();
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            std::array<std::uint8_t, 4096> buffer{};
            const ssize_t n = ::read(client.get(), buffer.data(), buffer.size());
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                break;
            }
            if (n > 0) {
                session.from_client(std::span(buffer.data(), static_cast<std::size_t>(n)), now,
                                    unsent);
            }
        }
        hang_up = session.to_client(now, unsent);
        const auto written = write_some(client.get(), unsent);
        if (!written) {
            break;
        }
        unsent.erase(unsent.begin(), unsent.begin() + static_cast<std::ptrdiff_t>(*written));
    }
    session.end(Clock::now());
}

}  // namespace stm32sim
