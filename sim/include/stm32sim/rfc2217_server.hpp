// Serves a Target over TCP as an RFC 2217 (Telnet COM-PORT-OPTION) access
// server, as ser2net would serve a real board. Clients are served one at a
// time, in turn; the next waits in the listen queue. DTR and RTS set by the
// client drive the chip's reset and BOOT0, the baud rate and framing set the
// line pacing. A client that goes away drops DTR and RTS, like a closed port.
//
//   stm32sim::Target chip(config);
//   stm32sim::Rfc2217Server server(chip);
//   server.start("127.0.0.1", 0);           // 0: any free port
//   connect to rfc2217://127.0.0.1:<server.port()>
//   server.stop();                          // also done by the destructor
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stm32sim/target.hpp"

namespace stm32sim {

class Rfc2217Server {
  public:
    // The target must outlive the server.
    explicit Rfc2217Server(Target& target);
    ~Rfc2217Server();
    Rfc2217Server(const Rfc2217Server&) = delete;
    Rfc2217Server& operator=(const Rfc2217Server&) = delete;

    // Binds, listens and starts the serving thread. Throws std::system_error
    // when the address cannot be bound. Port 0 picks a free port.
    void start(const std::string& host, std::uint16_t port);
    // Closes the connection and the listening socket and joins the thread.
    void stop();
    std::uint16_t port() const;
    // Clients accepted so far (for tests).
    std::uint64_t clients_served() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace stm32sim
