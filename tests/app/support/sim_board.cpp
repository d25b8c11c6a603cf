#include "sim_board.h"

#include <stdexcept>
#include <utility>

#include "app_harness.h"

namespace apptest {

namespace {

stm32sim::Product ProductNamed(const std::string& name) {
    const auto part = stm32sim::find_product(name);
    if (!part) {
        throw std::runtime_error("no simulated product " + name);
    }
    return *part;
}

}  // namespace

SimBoard::SimBoard(int com, const std::string& product, stm32sim::FaultConfig faults, Link link,
                   bool readProtected, std::vector<std::uint32_t> writeProtected)
    : SimBoard(com, ProductNamed(product), faults, link, readProtected, std::move(writeProtected)) {
}

SimBoard::SimBoard(int com, const stm32sim::Product& product, stm32sim::FaultConfig faults,
                   Link link, bool readProtected, std::vector<std::uint32_t> writeProtected,
                   std::optional<std::uint8_t> eraseCommand) {
    stm32sim::TargetConfig config;
    config.product = product;
    config.faults = faults;
    config.read_protected = readProtected;
    config.write_protected_groups = std::move(writeProtected);
    config.erase_command = eraseCommand;
    if (link == Link::kPty) {
        config.start = stm32sim::StartMode::bootloader;
        config.boot0 = stm32sim::Boot0Polarity::tied_high;
        config.resync_after_idle = kPtyResyncIdle;
    }
    target_ = std::make_unique<stm32sim::Target>(config);
    if (link == Link::kPty) {
        pty_ = std::make_unique<stm32sim::PtyServer>(*target_);
        pty_->start();
        MapPort(com, pty_->slave_path());
        return;
    }
    server_ = std::make_unique<stm32sim::Rfc2217Server>(*target_);
    server_->start("127.0.0.1", 0);
    port_ = server_->port();
    MapPort(com, device());
}

SimBoard::~SimBoard() {
    if (server_) {
        server_->stop();
    }
    if (pty_) {
        pty_->stop();
    }
}

std::string SimBoard::device() const {
    return pty_ ? pty_->slave_path() : "rfc2217://127.0.0.1:" + std::to_string(port_);
}

}  // namespace apptest
