#include "campaign_board.h"

#include <chrono>
#include <stdexcept>

#include "app_harness.h"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"

namespace campaign {

namespace {

constexpr std::uint32_t kBaud = 115200;
// A pseudo-terminal has no reset line: a synchronisation byte after this much
// silence starts a new bootloader session instead. The program's reset pulse
// (30 ms) always leaves that much silence before its 0x7F.
constexpr auto kPtyResyncSilence = std::chrono::milliseconds(25);

}  // namespace

const char* TransportName(Transport transport) {
    return transport == Transport::rfc2217 ? "RFC 2217" : "pseudo-terminal";
}

struct Board::Server {
    std::unique_ptr<stm32sim::Rfc2217Server> rfc2217;
    std::unique_ptr<stm32sim::PtyServer> pty;
};

Board::Board(int com, const BoardSpec& spec) : server_(std::make_unique<Server>()) {
    const auto product = stm32sim::find_product(spec.product);
    if (!product) {
        throw std::runtime_error("no simulated product " + spec.product);
    }
    stm32sim::TargetConfig config;
    config.product = *product;
    config.timing = spec.timing;
    config.faults = spec.faults;
    config.seed = spec.seed;
    if (spec.transport == Transport::pty) {
        config.boot0 = stm32sim::Boot0Polarity::tied_high;
        config.start = stm32sim::StartMode::bootloader;
        config.resync_after_idle = kPtyResyncSilence;
    }
    target_ = std::make_unique<stm32sim::Target>(config);
    if (spec.transport == Transport::rfc2217) {
        server_->rfc2217 = std::make_unique<stm32sim::Rfc2217Server>(*target_);
        server_->rfc2217->start("127.0.0.1", 0);
        apptest::MapPort(com, "rfc2217://127.0.0.1:" + std::to_string(server_->rfc2217->port()));
    } else {
        server_->pty = std::make_unique<stm32sim::PtyServer>(*target_, kBaud);
        server_->pty->start();
        apptest::MapPort(com, server_->pty->slave_path());
    }
}

Board::~Board() {
    if (server_->rfc2217) {
        server_->rfc2217->stop();
    }
    if (server_->pty) {
        server_->pty->stop();
    }
}

}  // namespace campaign
