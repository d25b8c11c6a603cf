#include "sim_board.h"

#include <stdexcept>

#include "app_harness.h"

namespace apptest {

SimBoard::SimBoard(int com, const std::string& product, stm32sim::FaultConfig faults,
                   bool readProtected) {
    const auto part = stm32sim::find_product(product);
    if (!part) {
        throw std::runtime_error("no simulated product " + product);
    }
    stm32sim::TargetConfig config;
    config.product = *part;
    config.faults = faults;
    config.read_protected = readProtected;
    target_ = std::make_unique<stm32sim::Target>(config);
    server_ = std::make_unique<stm32sim::Rfc2217Server>(*target_);
    server_->start("127.0.0.1", 0);
    port_ = server_->port();
    MapPort(com, device());
}

SimBoard::~SimBoard() {
    server_->stop();
}

std::string SimBoard::device() const {
    return "rfc2217://127.0.0.1:" + std::to_string(port_);
}

}  // namespace apptest
