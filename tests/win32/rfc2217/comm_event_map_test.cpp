#include <gtest/gtest.h>

#include "comm_event_map.h"
#include "telnet_protocol.h"

namespace chipload::rfc2217 {
namespace {

using namespace modemstate;

TEST(CommEventMap, ModemEventsComeFromLevelChangesAndFromTheServersFlags) {
    EXPECT_EQ(modemChangeEvents(0, kCts), DWORD{EV_CTS});
    EXPECT_EQ(modemChangeEvents(kCts | kDsr | kCd | kRi, 0),
              DWORD{EV_CTS | EV_DSR | EV_RLSD | EV_RING});
    // Unchanged levels with the server's delta bits: a pulse too short to see.
    EXPECT_EQ(modemChangeEvents(kDsr, kDsr | kDeltaDsr | kDeltaCd), DWORD{EV_DSR | EV_RLSD});
    EXPECT_EQ(modemChangeEvents(kCd, kCd), 0u);
    // The first report: only its flags, not its levels, are changes.
    EXPECT_EQ(modemChangeEvents(kCts | kCd | kTrailingEdgeRi), DWORD{EV_RING});
    EXPECT_EQ(modemStatusBits(0xFF), DWORD{MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON});
    EXPECT_EQ(modemStatusBits(kCd | kDeltaCts), DWORD{MS_RLSD_ON});
}

TEST(CommEventMap, LineStateBecomesBreakOrErrorWithItsCauses) {
    const auto breakOnly = lineStateEvents(linestate::kBreak);
    EXPECT_EQ(breakOnly.events, DWORD{EV_BREAK});
    EXPECT_EQ(breakOnly.lineErrors, DWORD{CE_BREAK});

    const auto errors = lineStateEvents(linestate::kFraming | linestate::kParity |
                                        linestate::kOverrun | 0x01 /* data ready */);
    EXPECT_EQ(errors.events, DWORD{EV_ERR});
    EXPECT_EQ(errors.lineErrors, DWORD{CE_FRAME | CE_RXPARITY | CE_OVERRUN});

    const auto quiet = lineStateEvents(0x61);  // data ready, transmitter empty: no event
    EXPECT_EQ(quiet.events, 0u);
    EXPECT_EQ(quiet.lineErrors, 0u);
}

}  // namespace
}  // namespace chipload::rfc2217
