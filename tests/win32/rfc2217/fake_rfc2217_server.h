// A small RFC 2217 server on loopback for what a pseudo-terminal behind a
// real server cannot do: modem and line notifications, a server that keeps a
// different setting, a server that refuses the com port option, a connection
// that drops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "option_negotiator.h"
#include "telnet_encoder.h"
#include "telnet_parser.h"

namespace chipload::rfc2217::testing {

class FakeRfc2217Server : private TelnetParser::Sink {
  public:
    struct Options {
        bool acceptComPort = true;
        std::optional<std::uint32_t> keptBaud;  // answer every SET-BAUDRATE with this
    };
    struct ClientCommand {
        std::uint8_t code;
        std::uint32_t value;
        bool operator==(const ClientCommand&) const = default;
    };

    FakeRfc2217Server();
    explicit FakeRfc2217Server(Options options);
    ~FakeRfc2217Server() override;

    std::string device() const;  // "rfc2217://127.0.0.1:PORT"

    void sendData(const Bytes& data);
    void sendModemState(std::uint8_t state);
    void sendLineState(std::uint8_t state);
    // Closes the client's connection.
    void drop();
    // A server that stops reading lets the client's socket fill up; its
    // receive buffer is kept small so that this happens soon.
    void pauseReading(bool paused);

    // Waits (bounded) until the client has sent the command.
    bool waitForCommand(ClientCommand command, std::chrono::milliseconds timeout);
    std::vector<ClientCommand> commands() const;
    // How many data bytes had arrived when the command first did.
    std::optional<std::size_t> dataBefore(ClientCommand command) const;
    bool waitForData(std::size_t count, std::chrono::milliseconds timeout);
    Bytes data() const;

  private:
    void onData(std::span<const std::uint8_t> bytes) override;
    void onNegotiation(std::uint8_t verb, std::uint8_t option) override;
    void onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) override;

    void serve();
    void sendRaw(const Bytes& bytes);
    bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done) const;

    const Options options_;
    int listener_ = -1;
    int stopFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    TelnetParser parser_;          // server thread only
    OptionNegotiator negotiator_;  // server thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int client_ = -1;
    bool paused_ = false;
    bool stopping_ = false;
    Bytes data_;
    std::vector<ClientCommand> commands_;
    std::vector<std::size_t> dataBeforeCommand_;  // beside commands_
};

}  // namespace chipload::rfc2217::testing
