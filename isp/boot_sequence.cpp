#include "boot_sequence.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace isp {

namespace {

using Kind = LineStep::Kind;

void setLine(std::vector<LineStep>& steps, ControlLine line, bool asserted) {
    if (line == ControlLine::kDtr) {
        steps.push_back({Kind::kSetDtr, asserted, {}});
    } else if (line == ControlLine::kRts) {
        steps.push_back({Kind::kSetRts, asserted, {}});
    }
}

void wait(std::vector<LineStep>& steps, std::chrono::milliseconds duration) {
    if (duration.count() > 0) {
        steps.push_back({Kind::kWait, false, duration});
    }
}

// Levels for "reset held" and "BOOT0 high" under the wiring's polarity.
bool resetLevel(const Wiring& wiring, bool hold) {
    return hold != wiring.invertReset;
}
bool boot0Level(const Wiring& wiring, bool high) {
    return high != wiring.invertBoot0;
}

std::vector<LineStep> resetWithBoot0(const Wiring& wiring, bool boot0High) {
    std::vector<LineStep> steps;
    setLine(steps, wiring.boot0, boot0Level(wiring, boot0High));
    if (wiring.reset != ControlLine::kNone) {
        setLine(steps, wiring.reset, resetLevel(wiring, true));
        wait(steps, wiring.resetPulse);
        setLine(steps, wiring.reset, resetLevel(wiring, false));
    }
    wait(steps, wiring.settle);
    return steps;
}

}  // namespace

std::optional<ControlLine> parseControlLine(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "dtr") {
        return ControlLine::kDtr;
    }
    if (lower == "rts") {
        return ControlLine::kRts;
    }
    if (lower == "none") {
        return ControlLine::kNone;
    }
    return std::nullopt;
}

std::optional<WiringFault> checkWiring(const Wiring& wiring) {
    if (wiring.reset != ControlLine::kNone && wiring.reset == wiring.boot0) {
        return WiringFault::kSameLine;
    }
    return std::nullopt;
}

std::vector<LineStep> enterBootloaderSequence(const Wiring& wiring) {
    std::vector<LineStep> steps = resetWithBoot0(wiring, true);
    // BOOT0 counts only at reset; released, the pin leaves the next reset
    // (and a board left connected) starting the application.
    setLine(steps, wiring.boot0, boot0Level(wiring, false));
    return steps;
}

std::vector<LineStep> startApplicationSequence(const Wiring& wiring) {
    return resetWithBoot0(wiring, false);
}

bool playSequence(Link& link, const std::vector<LineStep>& steps, Clock& clock) {
    for (const LineStep& step : steps) {
        switch (step.kind) {
            case Kind::kSetDtr:
                if (!link.setDtr(step.asserted)) {
                    return false;
                }
                break;
            case Kind::kSetRts:
                if (!link.setRts(step.asserted)) {
                    return false;
                }
                break;
            case Kind::kWait:
                clock.sleepFor(step.wait);
                break;
        }
    }
    return true;
}

}  // namespace isp
