#include "comm_event_map.h"

#include "telnet_protocol.h"

namespace chipload::rfc2217 {

namespace {

struct ModemLine {
    std::uint8_t level;
    std::uint8_t flag;  // the server's own "changed" bit
    DWORD event;
};

constexpr ModemLine kModemLines[] = {
    {modemstate::kCts, modemstate::kDeltaCts, EV_CTS},
    {modemstate::kDsr, modemstate::kDeltaDsr, EV_DSR},
    {modemstate::kCd, modemstate::kDeltaCd, EV_RLSD},
    {modemstate::kRi, modemstate::kTrailingEdgeRi, EV_RING},
};

}  // namespace

DWORD modemChangeEvents(std::uint8_t previous, std::uint8_t current) {
    DWORD events = modemChangeEvents(current);
    for (const ModemLine& line : kModemLines) {
        if (((previous ^ current) & line.level) != 0) {
            events |= line.event;
        }
    }
    return events;
}

DWORD modemChangeEvents(std::uint8_t current) {
    DWORD events = 0;
    for (const ModemLine& line : kModemLines) {
        if ((current & line.flag) != 0) {
            events |= line.event;
        }
    }
    return events;
}

DWORD modemStatusBits(std::uint8_t state) {
    // The notification keeps the line levels where a 16550's modem status
    // register has them, as Windows' MS_*_ON do.
    static_assert(MS_CTS_ON == modemstate::kCts && MS_DSR_ON == modemstate::kDsr &&
                  MS_RING_ON == modemstate::kRi && MS_RLSD_ON == modemstate::kCd);
    return state & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
}

CommEventReport lineStateEvents(std::uint8_t state) {
    CommEventReport report;
    if ((state & linestate::kBreak) != 0) {
        report.events |= EV_BREAK;
        report.lineErrors |= CE_BREAK;
    }
    if ((state & linestate::kFraming) != 0) {
        report.lineErrors |= CE_FRAME;
    }
    if ((state & linestate::kParity) != 0) {
        report.lineErrors |= CE_RXPARITY;
    }
    if ((state & linestate::kOverrun) != 0) {
        report.lineErrors |= CE_OVERRUN;
    }
    if ((report.lineErrors & (CE_FRAME | CE_RXPARITY | CE_OVERRUN)) != 0) {
        report.events |= EV_ERR;
    }
    return report;
}

}  // namespace chipload::rfc2217
