#include "read_workers.h"

#include <algorithm>
#include <cstdint>

#include "ChipLoad.h"
#include "TideComm.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "read_exchange.h"
#include "rte.h"
#include "session.h"

namespace {

constexpr std::uint32_t kLineBytes = 16;
constexpr std::uint32_t kBlankChunk = 256;

bool Running() {
    return f_read_iterator.load() <= f_read_len.load();
}

// Advances the consumer position unless the quit signal or a new read changed it.
bool Advance(std::uint32_t from, std::uint32_t to) {
    return f_read_iterator.compare_exchange_strong(from, to);
}

// "0010:FF FF ... FF": the offset's low 16 bits, then the bytes.
void FormatLine(std::uint32_t offset, const unsigned char* bytes, char* line) {
    const unsigned int shown = offset & 0xFFFFu;
    TideComm_IntToHex(&shown, line, 4);
    line[4] = ':';
    TideComm_BinToHex(bytes, line + 5, static_cast<int>(kLineBytes), 1);
}

}  // namespace

int read_display(void* /*data*/) {
    while (Running()) {
        const std::uint32_t at = f_read_iterator.load();
        const std::uint32_t stored = f_read_rxint_iterator.load(std::memory_order_acquire);
        unsigned char bytes[kLineBytes];
        std::uint32_t generation = 0;
        // Only when nothing is waiting: a read of 64 KiB is 4096 lines.
        if (f_read_start.load() != 1 || at >= stored || stored - at < kLineBytes ||
            !CopyStoredBytes(at, bytes, kLineBytes, &generation)) {
            ProcessSystemEvents();
            continue;
        }
        char line[5 + 3 * kLineBytes];
        FormatLine(at, bytes, line);
        const std::uint32_t next = at + kLineBytes;
        if (!Advance(at, next)) {
            continue;
        }
        LogLine(line);
        SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, static_cast<int>(next));
        const std::uint32_t length = f_read_len.load();
        if (next == length && FinishFlashRead(next, generation, false)) {
            LogLine("Flash读取完成.");
            SetStatus("Flash读取完成！！！");
            SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, static_cast<int>(length));
        }
    }
    return 0;
}

int check_blank_op(void* /*data*/) {
    while (Running()) {
        const std::uint32_t at = f_read_iterator.load();
        const std::uint32_t stored = f_read_rxint_iterator.load(std::memory_order_acquire);
        unsigned char bytes[kBlankChunk];
        std::uint32_t generation = 0;
        const std::uint32_t count = std::min(kBlankChunk, stored > at ? stored - at : 0);
        // Bytes that have arrived are tested without pausing; the worker only
        // yields while it waits for the next block.
        if (f_checkblank_start.load() != 1 || count == 0 || f_checkblank_rxint_start.load() != 1 ||
            !CopyStoredBytes(at, bytes, count, &generation)) {
            ProcessSystemEvents();
            continue;
        }
        const auto* firstNotErased =
            std::find_if(bytes, bytes + count, [](unsigned char b) { return b != 0xFF; });
        if (firstNotErased != bytes + count) {
            if (FinishFlashRead(at, generation, true)) {
                MessagePopup("告警", "芯片不空，请重新擦除！");
            }
            continue;
        }
        const std::uint32_t next = at + count;
        if (!Advance(at, next)) {
            continue;
        }
        if (next >= f_read_len.load() && FinishFlashRead(next, generation, false)) {
            LogLineNoScroll("Flash查空完毕.");
            SetStatus("Flash查空完毕！");
        }
    }
    return 0;
}
