#include "reply_timeout.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "ChipLoad.h"
#include "TideComm.h"
#include "asynctimer.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "reply_engine.h"
#include "reply_handlers.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"

namespace {

constexpr double kWatchTickSeconds = 0.1;
// Room for a loaded machine and the read interval that ends a reply.
constexpr double kReplyMarginSeconds = 2.0;
// The longest reply: the ACK and a 256-byte block.
constexpr double kLongestReplyBytes = 1 + ISP_MAX_BLOCK;
// Start bit, 8 data bits, parity, stop bit.
constexpr double kBitsPerCharacter = 11.0;
// Above the datasheet's worst page (and mass) erase time of the F1 parts.
constexpr double kPageEraseSeconds = 0.05;
constexpr int kSlowestBaud = 1200;

// Timer thread and user-interface thread share only these.
int watchTimer = -1;
std::atomic<std::int64_t> deadlineMs{0};  // 0: nothing awaited
std::atomic<std::uint32_t> waitNumber{0};
std::atomic<std::uint32_t> reportedWait{0};
std::atomic<bool> retirePosted{false};

std::mutex connectWaitMutex;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Expiry {
    int command;        // the code whose reply never came, 0x7F for a synchronisation
    long long address;  // -1: none
    const char* failure;
};

Expiry ExpiryOfMode() {
    switch (ISP_mode) {
        case 1:
            if (sub_handshake_mode == 1 || sub_handshake_mode == 2) {
                return {ISP_SYNC, -1, kEraseFailedText};
            }
            return {ISP_SYNC, -1,
                    sub_handshake_mode == 5 ? kReadCommandFailedText : kConnectFailedText};
        case 3:
            return {0x01, -1, kConnectFailedText};
        case 4:
            return {0x02, -1, kConnectFailedText};
        case 5:
            return {0x11, static_cast<unsigned int>(sub_read_base_addr),
                    sub_read_finish_mode >= READ_ID_F1_BLOCK && sub_read_finish_mode <= READ_ID_UID
                        ? kConnectFailedText
                        : kReadFailedText};
        case 6:
            return {0x21, FLASH_BASE_ADDR, kGoFailedText};
        case 7:
            return {0x31, static_cast<unsigned int>(sub_write_base_addr),
                    sub_write_mode == 3 ? kBlockFailedText : kWriteFailedText};
        case 8:
            // A page erase names its first page; a whole-chip erase has no address.
            if (sub_erase_page_number > 0) {
                return {EraseCommandCode(), FLASH_BASE_ADDR + EraseUnitOffset(sub_erase_base_page),
                        kEraseFailedText};
            }
            return {EraseCommandCode(), -1, kEraseFailedText};
        case 10:
            return {0x73, -1, kUnprotectFailedText};
        case 12:
            return {0x92, -1, kUnprotectFailedText};
        default:
            return {0, -1, nullptr};
    }
}

void ReplyTimedOut() {
    const Expiry expiry = ExpiryOfMode();
    char text[160];
    if (expiry.address >= 0) {
        std::snprintf(text, sizeof text,
                      RTE_Translate("目标板无应答：命令0x%02X，地址0x%08llX，操作超时！！！"),
                      expiry.command, expiry.address);
    } else {
        std::snprintf(text, sizeof text, RTE_Translate("目标板无应答：命令0x%02X，操作超时！！！"),
                      expiry.command);
    }
    LogLine(text);
    SetStatus(text);
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
    SetCtrlAttribute(panelHandle, PANEL_CONNECT, ATTR_DIMMED, 0);
    ISP_mode = 0;
    ISP_sys_ready = 0;
    fail_count = 0;
    ResetReplyAssembly();
    TideComm_SetReplyLength(comport, 0);
    AbandonProgramming();
    if (expiry.failure != nullptr) {
        MessagePopup(kWarningTitle, expiry.failure);
    }
    ReadEnded();
}

void TimedOutOnUi(void* data) {
    auto wait = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
    if (wait != waitNumber.load() || deadlineMs.load() == 0) {
        return;
    }
    if (NowMs() < deadlineMs.load()) {
        // Posted for a wait that began just as the tick looked: report it later.
        reportedWait.compare_exchange_strong(wait, 0);
        return;
    }
    deadlineMs = 0;
    if (ISP_mode != 0) {
        ReplyTimedOut();
    }
}

// On the user-interface thread, where waits begin: with nothing awaited the
// watch goes, so an idle program has no timer ticking ten times a second.
void RetireIdleWatch(void*) {
    retirePosted = false;
    if (deadlineMs.load() == 0 && watchTimer >= 0) {
        DiscardAsyncTimer(watchTimer);
        watchTimer = -1;
    }
}

int WatchTick(int /*reserved*/, int /*timer*/, int event, void* /*callbackData*/,
              void* /*eventData1*/, void* /*eventData2*/) {
    if (event != ASYNC_TIMER_EVENT_TICK) {
        return 0;
    }
    const std::int64_t deadline = deadlineMs.load();
    if (deadline == 0) {
        if (!retirePosted.exchange(true)) {
            PostDeferredCall(RetireIdleWatch, nullptr);
        }
        return 0;
    }
    if (NowMs() < deadline) {
        return 0;
    }
    const std::uint32_t wait = waitNumber.load();
    if (reportedWait.exchange(wait) != wait) {
        PostDeferredCall(TimedOutOnUi, reinterpret_cast<void*>(static_cast<std::uintptr_t>(wait)));
    }
    return 0;
}

double LineSeconds() {
    int baud = 0;
    GetCtrlVal(panelHandle, PANEL_BAUDRATE, &baud);
    if (baud < kSlowestBaud) {
        baud = kSlowestBaud;
    }
    return kLongestReplyBytes * kBitsPerCharacter / baud;
}

}  // namespace

void AwaitReply(double workSeconds) {
    if (watchTimer < 0) {
        watchTimer = NewAsyncTimer(kWatchTickSeconds, -1, 1, WatchTick, nullptr);
    }
    const double seconds = kReplyMarginSeconds + LineSeconds() + workSeconds;
    ++waitNumber;
    deadlineMs = NowMs() + static_cast<std::int64_t>(seconds * 1000.0);
}

void StopAwaitingReply(void) {
    ++waitNumber;
    deadlineMs = 0;
}

void DiscardReplyTimer(void) {
    StopAwaitingReply();
    if (watchTimer >= 0) {
        DiscardAsyncTimer(watchTimer);
        watchTimer = -1;
    }
}

double EraseSeconds(int pages) {
    return pages * kPageEraseSeconds;
}

void EndConnectWait(void) {
    std::lock_guard<std::mutex> lock(connectWaitMutex);
    SetAsyncTimerAttribute(TimerID1, TIMER_ATTR_ENABLED, 0);
}

void ReportConnectTimeout(void (*report)(void)) {
    std::lock_guard<std::mutex> lock(connectWaitMutex);
    int enabled = 0;
    if (GetAsyncTimerAttribute(TimerID1, TIMER_ATTR_ENABLED, &enabled) != 0 || enabled == 0) {
        return;
    }
    SetAsyncTimerAttribute(TimerID1, TIMER_ATTR_ENABLED, 0);
    report();
}
