#include "sim_link.h"

#include <algorithm>

namespace isp_test {

void SimLink::collect() {
    const auto output = target_.take_output(clock_.now());
    received_.insert(received_.end(), output.bytes.begin(), output.bytes.end());
    if (output.drop_connection) {
        broken_ = true;
    }
}

bool SimLink::write(std::span<const std::uint8_t> bytes) {
    if (broken_) {
        return false;
    }
    sent_.insert(sent_.end(), bytes.begin(), bytes.end());
    target_.receive(bytes, clock_.now());
    return true;
}

std::optional<std::size_t> SimLink::read(std::span<std::uint8_t> buffer,
                                         std::chrono::milliseconds timeout) {
    const auto deadline = clock_.now() + timeout;
    for (;;) {
        collect();
        if (received_.size() >= buffer.size()) {
            break;
        }
        const auto due = target_.next_output_due();
        if (!due || *due > deadline) {
            clock_.advanceTo(deadline);
            collect();
            break;
        }
        clock_.advanceTo(*due);
    }
    if (broken_ && received_.empty()) {
        return std::nullopt;
    }
    const std::size_t count = std::min(buffer.size(), received_.size());
    std::copy_n(received_.begin(), count, buffer.begin());
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
}

bool SimLink::setDtr(bool asserted) {
    if (!broken_) {
        target_.set_dtr(asserted, clock_.now());
    }
    return !broken_;
}

bool SimLink::setRts(bool asserted) {
    if (!broken_) {
        target_.set_rts(asserted, clock_.now());
    }
    return !broken_;
}

bool SimLink::flushInput() {
    if (broken_) {
        return false;
    }
    collect();
    received_.clear();
    return true;
}

}  // namespace isp_test
