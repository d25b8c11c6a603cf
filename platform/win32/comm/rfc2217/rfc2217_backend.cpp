#include "rfc2217_backend.h"

#include <array>
#include <memory>

#include "comm_event_map.h"
#include "tcp_connect.h"

namespace chipload::rfc2217 {

namespace {

using namespace std::chrono_literals;
using win32::comm::CommEventSink;
using win32::comm::Wakeup;

constexpr auto kConnectTimeout = 3000ms;
constexpr auto kNegotiateTimeout = 3000ms;
// A purge is done here whether or not the server confirms it; the wait only
// keeps data the server sent before purging out of what follows.
constexpr auto kPurgeReplyTimeout = 500ms;

constexpr std::uint8_t kLineStateMask =
    linestate::kBreak | linestate::kFraming | linestate::kParity | linestate::kOverrun;

DWORD toError(TelnetLink::Status status) {
    switch (status) {
        case TelnetLink::Status::Ok:
            return ERROR_SUCCESS;
        case TelnetLink::Status::Aborted:
            return ERROR_OPERATION_ABORTED;
        case TelnetLink::Status::TimedOut:
            return ERROR_TIMEOUT;
        case TelnetLink::Status::Failed:
            break;
    }
    return ERROR_BAD_COMMAND;
}

Parity toParity(BYTE windowsParity) {
    constexpr std::array<Parity, 5> kByWindowsCode{Parity::None, Parity::Odd, Parity::Even,
                                                   Parity::Mark, Parity::Space};
    return kByWindowsCode.at(windowsParity);
}

StopSize toStopSize(BYTE windowsStopBits) {
    switch (windowsStopBits) {
        case ONE5STOPBITS:
            return StopSize::OneAndHalf;
        case TWOSTOPBITS:
            return StopSize::Two;
        default:
            return StopSize::One;
    }
}

}  // namespace

Rfc2217Backend::Rfc2217Backend(int socket)
    : link_(socket, [this](const ComPortReply& reply) { onNotify(reply); }) {}

DWORD Rfc2217Backend::connect(std::chrono::milliseconds timeout) {
    const TelnetLink::Status status = link_.negotiate(timeout);
    if (status != TelnetLink::Status::Ok) {
        // A server that is there but will not control a com port is not one.
        return link_.failed() ? ERROR_FILE_NOT_FOUND : ERROR_NOT_SUPPORTED;
    }
    Bytes masks;
    appendSetModemStateMask(masks, Sender::Client, 0xFF);
    appendSetLineStateMask(masks, Sender::Client, kLineStateMask);
    return toError(link_.command(masks));
}

DWORD Rfc2217Backend::start(CommEventSink& sink) {
    sink_ = &sink;
    return link_.failed() ? ERROR_BAD_COMMAND : ERROR_SUCCESS;
}

void Rfc2217Backend::report(DWORD events, DWORD lineErrors) {
    CommEventSink* sink = sink_;
    if (sink != nullptr && (events != 0 || lineErrors != 0)) {
        sink->commEvents(events, lineErrors);
    }
}

void Rfc2217Backend::onNotify(const ComPortReply& reply) {
    const auto value = static_cast<std::uint8_t>(reply.value);
    if (reply.command == ComPortCommand::NotifyLineState) {
        const CommEventReport r = lineStateEvents(value);
        report(r.events, r.lineErrors);
        return;
    }
    const std::uint8_t previous = modemState_.exchange(value);
    report(haveModemState_ ? modemChangeEvents(previous, value) : modemChangeEvents(value), 0);
    haveModemState_ = true;
}

DWORD Rfc2217Backend::read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
                           const Wakeup& wake) {
    return toError(link_.receive(buffer, received, timeoutMs, wake.fd()));
}

DWORD Rfc2217Backend::write(std::span<const BYTE> data, std::size_t& written, const Wakeup& wake) {
    return toError(link_.send(data, written, wake.fd()));
}

DWORD Rfc2217Backend::readSettings(DCB& dcb) {
    // Value 0 asks the server for the current setting.
    Bytes queries;
    appendSetBaudRate(queries, Sender::Client, 0);
    appendSetDataSize(queries, Sender::Client, 0);
    appendComPort(queries, Sender::Client, ComPortCommand::SetParity, std::array<BYTE, 1>{0});
    appendComPort(queries, Sender::Client, ComPortCommand::SetStopSize, std::array<BYTE, 1>{0});
    constexpr std::array kAwaited{ComPortCommand::SetBaudRate, ComPortCommand::SetDataSize,
                                  ComPortCommand::SetParity, ComPortCommand::SetStopSize};
    std::vector<ComPortReply> replies;
    if (const DWORD error = toError(link_.request(queries, kAwaited, replies, kReplyTimeout));
        error != ERROR_SUCCESS) {
        return error;
    }
    if (replies[0].value != 0) {
        dcb.BaudRate = replies[0].value;
    }
    if (replies[1].value >= 5 && replies[1].value <= 8) {
        dcb.ByteSize = static_cast<BYTE>(replies[1].value);
    }
    if (replies[2].value >= 1 && replies[2].value <= 5) {
        dcb.Parity = static_cast<BYTE>(replies[2].value - 1);
    }
    switch (static_cast<StopSize>(replies[3].value)) {
        case StopSize::One:
            dcb.StopBits = ONESTOPBIT;
            break;
        case StopSize::Two:
            dcb.StopBits = TWOSTOPBITS;
            break;
        case StopSize::OneAndHalf:
            dcb.StopBits = ONE5STOPBITS;
            break;
    }
    return ERROR_SUCCESS;
}

DWORD Rfc2217Backend::applySettings(const DCB& dcb) {
    // The protocol has no DSR flow control, no DTR handshake and no RS-485
    // direction control.
    if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE ||
        dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        return ERROR_INVALID_PARAMETER;
    }
    const Parity parity = toParity(dcb.Parity);
    const StopSize stopSize = toStopSize(dcb.StopBits);
    Bytes commands;
    appendSetBaudRate(commands, Sender::Client, dcb.BaudRate);
    appendSetDataSize(commands, Sender::Client, dcb.ByteSize);
    appendSetParity(commands, Sender::Client, parity);
    appendSetStopSize(commands, Sender::Client, stopSize);
    const bool hardwareFlow = dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    appendSetControl(commands, Sender::Client,
                     hardwareFlow              ? Control::FlowHardware
                     : (dcb.fOutX || dcb.fInX) ? Control::FlowXonXoff
                                               : Control::FlowNone);
    appendSetControl(commands, Sender::Client,
                     dcb.fDtrControl == DTR_CONTROL_ENABLE ? Control::DtrOn : Control::DtrOff);
    if (!hardwareFlow) {
        appendSetControl(commands, Sender::Client,
                         dcb.fRtsControl == RTS_CONTROL_ENABLE ? Control::RtsOn : Control::RtsOff);
    }
    // Servers do not all confirm SET-CONTROL (a line a device lacks goes
    // unanswered), so only the framing is awaited and checked.
    constexpr std::array kAwaited{ComPortCommand::SetBaudRate, ComPortCommand::SetDataSize,
                                  ComPortCommand::SetParity, ComPortCommand::SetStopSize};
    std::vector<ComPortReply> replies;
    if (const DWORD error = toError(link_.request(commands, kAwaited, replies, kReplyTimeout));
        error != ERROR_SUCCESS) {
        return error;
    }
    const std::array<std::uint32_t, 4> wanted{dcb.BaudRate, dcb.ByteSize,
                                              static_cast<std::uint32_t>(parity),
                                              static_cast<std::uint32_t>(stopSize)};
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (replies[i].value != wanted[i]) {
            return ERROR_INVALID_PARAMETER;  // the server kept something else
        }
    }
    return ERROR_SUCCESS;
}

DWORD Rfc2217Backend::escape(DWORD function) {
    Control control{};
    switch (function) {
        case SETDTR:
            control = Control::DtrOn;
            break;
        case CLRDTR:
            control = Control::DtrOff;
            break;
        case SETRTS:
            control = Control::RtsOn;
            break;
        case CLRRTS:
            control = Control::RtsOff;
            break;
        case SETBREAK:
            control = Control::BreakOn;
            break;
        case CLRBREAK:
            control = Control::BreakOff;
            break;
        default:
            // SETXON/SETXOFF act on the server's transmitter, which the
            // protocol cannot reach.
            return ERROR_NOT_SUPPORTED;
    }
    Bytes command;
    appendSetControl(command, Sender::Client, control);
    return toError(link_.command(command));
}

DWORD Rfc2217Backend::modemStatus(DWORD& status) {
    if (link_.failed()) {
        return ERROR_BAD_COMMAND;
    }
    status = modemStatusBits(modemState_);
    return ERROR_SUCCESS;
}

DWORD Rfc2217Backend::purge(DWORD flags) {
    const bool rx = (flags & PURGE_RXCLEAR) != 0;
    const bool tx = (flags & PURGE_TXCLEAR) != 0;
    if (!rx && !tx) {
        return link_.failed() ? ERROR_BAD_COMMAND : ERROR_SUCCESS;
    }
    Bytes command;
    appendPurgeData(command, Sender::Client,
                    rx && tx ? Purge::Both : (rx ? Purge::ServerReceive : Purge::ServerTransmit));
    constexpr std::array kAwaited{ComPortCommand::PurgeData};
    std::vector<ComPortReply> replies;
    const TelnetLink::Status status = link_.request(command, kAwaited, replies, kPurgeReplyTimeout);
    if (rx) {
        link_.discardReceived();
    }
    return status == TelnetLink::Status::Failed ? ERROR_BAD_COMMAND : ERROR_SUCCESS;
}

}  // namespace chipload::rfc2217

namespace chipload::win32::comm {

std::unique_ptr<CommBackend> openRfc2217Backend(const std::string& hostPort, DWORD& error) {
    const auto where = rfc2217::parseHostPort(hostPort);
    if (!where) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const int socket = rfc2217::connectTcp(*where, rfc2217::kConnectTimeout);
    if (socket < 0) {
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto backend = std::make_unique<rfc2217::Rfc2217Backend>(socket);
    error = backend->connect(rfc2217::kNegotiateTimeout);
    if (error != ERROR_SUCCESS) {
        return nullptr;
    }
    return backend;
}

}  // namespace chipload::win32::comm
