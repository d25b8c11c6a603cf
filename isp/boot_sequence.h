// Driving a board's reset and BOOT0 pins from the adapter's DTR and RTS lines,
// for every way boards are wired: which line drives which pin, with which
// polarity, and how long the reset pulse lasts.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <vector>

#include "link.h"

namespace isp {

enum class ControlLine { kDtr, kRts, kNone };

struct Wiring {
    ControlLine reset = ControlLine::kDtr;
    ControlLine boot0 = ControlLine::kRts;
    // Not inverted: the line asserted holds the chip in reset / drives BOOT0
    // high. Inverted: the line released does.
    bool invertReset = false;
    bool invertBoot0 = false;
    std::chrono::milliseconds resetPulse{100};
    // Time the bootloader needs after reset before it listens for 0x7F.
    std::chrono::milliseconds settle{50};
};

// "dtr", "rts", "none" (any case); nullopt for anything else.
std::optional<ControlLine> parseControlLine(std::string_view text);

// Reset and BOOT0 on the same line cannot work; nullopt when the wiring is
// usable, else which rule it breaks (as a value the caller words).
enum class WiringFault { kSameLine };
std::optional<WiringFault> checkWiring(const Wiring& wiring);

// One step of a line sequence: set a line, or wait.
struct LineStep {
    enum class Kind { kSetDtr, kSetRts, kWait } kind;
    bool asserted = false;
    std::chrono::milliseconds wait{0};
    bool operator==(const LineStep&) const = default;
};

// BOOT0 high, reset pulse, settle, BOOT0 released again (the bootloader
// samples it only at reset).
std::vector<LineStep> enterBootloaderSequence(const Wiring& wiring);
// BOOT0 low, reset pulse: the chip starts its application.
std::vector<LineStep> startApplicationSequence(const Wiring& wiring);

// Plays a sequence on a link; false when setting a line failed.
bool playSequence(Link& link, const std::vector<LineStep>& steps, Clock& clock);

}  // namespace isp
