#include "read_workers.h"

#include <algorithm>
#include <cstdint>

#include "ChipLoad.h"
#include "TideComm.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "progress_status.h"
#include "read_exchange.h"
#include "reply_handlers.h"
#include "rte.h"
#include "session.h"

namespace {

constexpr std::uint32_t kLineBytes = 16;
constexpr std::uint32_t kBlankChunk = 256;

bool Running() {
    return f_read_iterator.load() <= f_read_len.load();
}

constexpr std::size_t kAddressChars = 9;               // "08000010:"
constexpr std::size_t kHexChars = 3 * kLineBytes - 1;  // "FF FF ... FF"
constexpr std::size_t kLineChars = kAddressChars + kHexChars + 2 + kLineBytes;

// "08000010:46 4C ... 00  FLASH..........": the byte's address in the target,
// the bytes, and the printable ones as text, as hex dump tools show them.
// Only formats: the engine is called once the exchange's lock is released.
std::uint32_t FormatLine(std::uint32_t offset, const unsigned char* bytes, std::uint32_t /*count*/,
                         void* context) {
    auto* line = static_cast<char*>(context);
    const unsigned int address = FlashReadBase() + offset;
    TideComm_IntToHex(&address, line, 8);
    line[8] = ':';
    TideComm_BinToHex(bytes, line + kAddressChars, static_cast<int>(kLineBytes), 1);
    char* text = line + kAddressChars + kHexChars;
    *text++ = ' ';
    *text++ = ' ';
    for (std::uint32_t i = 0; i < kLineBytes; i++) {
        *text++ = bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    *text = '\0';
    return kLineBytes;
}

// Takes the erased bytes at the front; `context` is set when a byte is not.
std::uint32_t TakeErased(std::uint32_t /*offset*/, const unsigned char* bytes, std::uint32_t count,
                         void* context) {
    const auto* end = bytes + count;
    const unsigned char erased = f_checkblank_erased.load();
    const auto* firstNotErased =
        std::find_if(bytes, end, [erased](unsigned char b) { return b != erased; });
    *static_cast<bool*>(context) = firstNotErased != end;
    return static_cast<std::uint32_t>(firstNotErased - bytes);
}

void ReportNotBlank(void* /*data*/) {
    NotBlankVerdict();
}

}  // namespace

int read_display(void* /*data*/) {
    std::uint64_t seen = 0;
    while (Running()) {
        std::uint32_t position = 0;
        std::uint32_t generation = 0;
        // Only when nothing is waiting: a read of 64 KiB is 4096 lines.
        char line[kLineChars + 1];
        if (!ConsumeStoredBytes(f_read_start, kLineBytes, kLineBytes, FormatLine, line, &position,
                                &generation)) {
            WaitForReadWork(&seen);
            continue;
        }
        LogLine(line);
        SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, static_cast<int>(position));
        ProgressReport(static_cast<long>(position));
        const std::uint32_t length = f_read_len.load();
        if (position == length && FinishFlashRead(position, generation, false)) {
            LogLine("Flash读取完成.");
            SetStatus("Flash读取完成！！！");
            SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, static_cast<int>(length));
        }
    }
    return 0;
}

int check_blank_op(void* /*data*/) {
    std::uint64_t seen = 0;
    while (Running()) {
        std::uint32_t position = 0;
        std::uint32_t generation = 0;
        bool notErased = false;
        // Bytes that have arrived are tested without pausing; the worker only
        // sleeps while it waits for the next block.
        if (f_checkblank_rxint_start.load() != 1 ||
            !ConsumeStoredBytes(f_checkblank_start, 1, kBlankChunk, TakeErased, &notErased,
                                &position, &generation)) {
            WaitForReadWork(&seen);
            continue;
        }
        if (notErased) {
            if (FinishFlashRead(position, generation, true)) {
                // Told on the user-interface thread once the block in flight is in.
                PostDeferredCall(ReportNotBlank, nullptr);
            }
            continue;
        }
        ProgressReport(static_cast<long>(position));
        if (position >= f_read_len.load() && FinishFlashRead(position, generation, false)) {
            LogLineNoScroll("Flash查空完毕.");
            SetStatus("Flash查空完毕！");
        }
    }
    return 0;
}
