#include "frames.h"

namespace isp {

namespace {

std::uint8_t lowByte(std::size_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

void appendChecksum(Bytes& frame) {
    std::uint8_t checksum = 0;
    for (std::uint8_t byte : frame) {
        checksum ^= byte;
    }
    frame.push_back(checksum);
}

}  // namespace

Bytes commandFrame(Command command) {
    const auto code = static_cast<std::uint8_t>(command);
    return {code, static_cast<std::uint8_t>(code ^ 0xFF)};
}

Bytes addressFrame(std::uint32_t address) {
    Bytes frame{lowByte(address >> 24), lowByte(address >> 16), lowByte(address >> 8),
                lowByte(address)};
    appendChecksum(frame);
    return frame;
}

std::optional<Bytes> lengthFrame(std::size_t count) {
    if (count < 1 || count > kMaxBlock) {
        return std::nullopt;
    }
    const std::uint8_t n = lowByte(count - 1);
    return Bytes{n, static_cast<std::uint8_t>(n ^ 0xFF)};
}

std::optional<Bytes> dataBlockFrame(std::span<const std::uint8_t> data) {
    if (data.empty() || data.size() > kMaxBlock) {
        return std::nullopt;
    }
    Bytes frame;
    frame.reserve(data.size() + 2);
    frame.push_back(lowByte(data.size() - 1));
    frame.insert(frame.end(), data.begin(), data.end());
    appendChecksum(frame);
    return frame;
}

std::optional<Bytes> erasePageListFrame(std::span<const std::uint8_t> pages) {
    if (pages.empty() || pages.size() > 255) {
        return std::nullopt;
    }
    Bytes frame;
    frame.reserve(pages.size() + 2);
    frame.push_back(lowByte(pages.size() - 1));
    frame.insert(frame.end(), pages.begin(), pages.end());
    appendChecksum(frame);
    return frame;
}

Bytes eraseAllFrame() {
    return {0xFF, 0x00};
}

std::optional<Bytes> extendedErasePageListFrame(std::span<const std::uint16_t> pages) {
    if (pages.empty() || pages.size() > kMaxExtendedErasePages) {
        return std::nullopt;
    }
    Bytes frame;
    frame.reserve(2 * pages.size() + 3);
    const std::size_t n = pages.size() - 1;
    frame.push_back(lowByte(n >> 8));
    frame.push_back(lowByte(n));
    for (std::uint16_t page : pages) {
        frame.push_back(lowByte(page >> 8u));
        frame.push_back(lowByte(page));
    }
    appendChecksum(frame);
    return frame;
}

Bytes extendedEraseCodeFrame(ExtendedEraseCode code) {
    const auto value = static_cast<std::uint16_t>(code);
    Bytes frame{lowByte(value >> 8u), lowByte(value)};
    appendChecksum(frame);
    return frame;
}

}  // namespace isp
