// Opens the TCP connection behind an "rfc2217://HOST:PORT" device.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace chipload::rfc2217 {

struct HostPort {
    std::string host;
    std::string port;
};

// Takes "HOST:PORT", "[V6ADDR]:PORT", with or without the rfc2217:// prefix.
std::optional<HostPort> parseHostPort(const std::string& text);

// A connected, blocking socket with TCP_NODELAY and a small send buffer, or
// -1 with errno set.
int connectTcp(const HostPort& where, std::chrono::milliseconds timeout);

}  // namespace chipload::rfc2217
