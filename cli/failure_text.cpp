#include "failure_text.h"

#include <cstdio>

namespace cli {
namespace {

std::string lineName(isp::ControlLine line) {
    switch (line) {
        case isp::ControlLine::kDtr:
            return "DTR";
        case isp::ControlLine::kRts:
            return "RTS";
        case isp::ControlLine::kNone:
            break;
    }
    return "none";
}

std::string wiringText(const isp::Wiring& wiring) {
    std::string text;
    if (wiring.reset == isp::ControlLine::kNone) {
        text = "no reset line";
    } else {
        text = "reset on " + lineName(wiring.reset) + (wiring.invertReset ? " (inverted)" : "") +
               " for " + std::to_string(wiring.resetPulse.count()) + " ms";
    }
    if (wiring.boot0 == isp::ControlLine::kNone) {
        text += ", no BOOT0 line";
    } else {
        text += ", BOOT0 on " + lineName(wiring.boot0) + (wiring.invertBoot0 ? " (inverted)" : "");
    }
    return text;
}

std::string where(const isp::Failure& failure) {
    return failure.address ? " at " + hexAddress(*failure.address) : "";
}

}  // namespace

std::string hexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", address);
    return text;
}

FailureText describeFailure(const isp::Failure& failure, std::string_view activity) {
    const std::string command(isp::commandName(failure.command));
    const std::string head = std::string(activity) + where(failure) + ": ";
    const std::string tries =
        failure.attempts > 1 ? " (" + std::to_string(failure.attempts) + " tries)" : "";
    switch (failure.status) {
        case isp::Status::kRefused:
            return {ExitCode::kTargetFailed,
                    head + "the bootloader refused " + command + tries +
                        "; the flash may be read- or write-protected, or the address outside "
                        "the chip's memory"};
        case isp::Status::kTimeout:
            return {ExitCode::kTargetFailed,
                    head + "no answer to " + command + tries +
                        "; check the cable, power and ground, or try a slower --baud"};
        case isp::Status::kBadReply:
            return {ExitCode::kTargetFailed, head + "garbled answer to " + command + tries +
                                                 "; try a slower --baud or a shorter cable"};
        case isp::Status::kLinkFailed:
            return {ExitCode::kTargetFailed, head + "the port failed during " + command +
                                                 "; is the adapter still plugged in?"};
        case isp::Status::kUnsupported:
            return {ExitCode::kTargetFailed, head + "this bootloader does not offer " + command};
        case isp::Status::kInvalidArgument:
            return {ExitCode::kUsage, head + command + " cannot carry this request"};
        case isp::Status::kCancelled:
            return {ExitCode::kInterrupted, head + "interrupted"};
        case isp::Status::kOk:
            break;
    }
    return {ExitCode::kTargetFailed, head + command + " failed"};
}

FailureText describeSyncFailure(const isp::Failure& failure, const isp::Wiring& wiring,
                                std::uint32_t baud, unsigned attempts) {
    if (failure.status == isp::Status::kCancelled || failure.status == isp::Status::kLinkFailed) {
        return describeFailure(failure, "connecting");
    }
    std::string line = "no bootloader answered 0x7F after " + std::to_string(attempts) +
                       (attempts == 1 ? " try" : " tries") + " (" + wiringText(wiring) + ", " +
                       std::to_string(baud) + " baud 8E1)";
    if (failure.status == isp::Status::kBadReply) {
        line +=
            "; the board sent something else, likely its own program: BOOT0 was not high "
            "at reset";
    }
    line += "; try ";
    if (wiring.reset != isp::ControlLine::kNone || wiring.boot0 != isp::ControlLine::kNone) {
        line += "the other polarity (--invert-reset, --invert-boot0), swapped lines (--reset " +
                std::string(wiring.reset == isp::ControlLine::kRts ? "dtr" : "rts") + " --boot0 " +
                std::string(wiring.boot0 == isp::ControlLine::kDtr ? "rts" : "dtr") + "), ";
    }
    line += "--reset none --boot0 none with BOOT0 held high and a manual reset";
    if (baud > 9600) {
        line += ", or a slower --baud such as " + std::to_string(baud > 57600 ? 57600 : 9600);
    }
    return {ExitCode::kTargetFailed, line};
}

FailureText describeOpenFailure(const isp::CommOpenError& error, std::string_view port,
                                std::uint32_t baud) {
    const std::string head = "cannot open " + std::string(port) + ": ";
    const std::string code = error.systemError != 0
                                 ? " (error " + std::to_string(error.systemError) + ")"
                                 : std::string();
    switch (error.kind) {
        case isp::CommOpenError::Kind::kNotFound:
            return {ExitCode::kPortFailed,
                    head + "no such device" + code +
                        "; check the name (ls /dev/serial/by-id) or the COMn mapping"};
        case isp::CommOpenError::Kind::kAccessDenied:
            return {ExitCode::kPortFailed,
                    head + "access denied or in use" + code +
                        "; close other programs on it, or join the dialout group"};
        case isp::CommOpenError::Kind::kConfigFailed:
            return {ExitCode::kPortFailed, head + "the adapter refused " + std::to_string(baud) +
                                               " baud 8E1" + code + "; try another --baud"};
        case isp::CommOpenError::Kind::kOther:
            break;
    }
    return {ExitCode::kPortFailed, head + "failed" + code};
}

}  // namespace cli
