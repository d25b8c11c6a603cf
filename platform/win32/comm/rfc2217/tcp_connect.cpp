#include "tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

namespace chipload::rfc2217 {

namespace {

constexpr std::string_view kScheme = "rfc2217://";

bool connectWithin(int fd, const addrinfo& ai, std::chrono::milliseconds timeout) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, static_cast<int>(timeout.count()));
        if (ready <= 0) {
            errno = ready == 0 ? ETIMEDOUT : errno;
            return false;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len);
        if (soError != 0) {
            errno = soError;
            return false;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return true;
}

}  // namespace

std::optional<HostPort> parseHostPort(const std::string& text) {
    std::string_view rest = text;
    if (rest.starts_with(kScheme)) {
        rest.remove_prefix(kScheme.size());
    }
    HostPort result;
    std::string_view portPart;
    if (rest.starts_with('[')) {
        const auto close = rest.find("]:");
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        result.host = rest.substr(1, close - 1);
        portPart = rest.substr(close + 2);
    } else {
        const auto colon = rest.rfind(':');
        if (colon == std::string_view::npos || rest.find(':') != colon) {
            return std::nullopt;
        }
        result.host = rest.substr(0, colon);
        portPart = rest.substr(colon + 1);
    }
    if (result.host.empty() || portPart.empty() || portPart.size() > 5 ||
        portPart.find_first_not_of("0123456789") != std::string_view::npos ||
        std::stoul(std::string(portPart)) > 65535) {
        return std::nullopt;
    }
    result.port = portPart;
    return result;
}

int connectTcp(const HostPort& where, std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(where.host.c_str(), where.port.c_str(), &hints, &list) != 0) {
        errno = EHOSTUNREACH;
        return -1;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(list, freeaddrinfo);
    int lastError = ECONNREFUSED;
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        const int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (connectWithin(fd, *ai, timeout)) {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            // A serial line drains a few kilobytes a second; megabytes queued
            // in the kernel would make a write "done" minutes before the line
            // sends it and out of PurgeComm's reach.
            const int sendBuffer = 16 * 1024;
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
            return fd;
        }
        lastError = errno;
        close(fd);
    }
    errno = lastError;
    return -1;
}

}  // namespace chipload::rfc2217
