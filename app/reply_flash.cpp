// Replies of Erase, Write Memory and Go.
#include <algorithm>
#include <cstring>
#include <vector>

#include "ChipLoad.h"
#include "TideComm.h"
#include "frames.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_image.h"
#include "program_verify.h"
#include "progress_status.h"
#include "reply_handlers.h"
#include "reply_timeout.h"
#include "rte.h"
#include "session.h"

namespace {

bool IsAck(const unsigned char* reply) {
    return reply[0] == ISP_ACK;
}

void Send(int port, const char* frame, int length) {
    SendIspFrame(port, frame, length);
}

// Programming ends with the failure pop-up and nothing left half done.
void ProgrammingFailed(const char* text) {
    ISP_mode = 0;
    AbandonProgramming();
    MessagePopup(kWarningTitle, text);
}

// The most pages one Erase (0x43) frame may list: a count byte of 0xFF
// would read as the global erase. Longer ranges go in several frames.
constexpr int kMaxErasePagesPerFrame = 255;
// Pages of the page-list frame in flight; the rest of the range follows.
int erasePagesInFlight = 0;

void SendFrame(int port, const isp::Bytes& frame, double workSeconds) {
    SendIspFrame(port, reinterpret_cast<const char*>(frame.data()), static_cast<int>(frame.size()),
                 workSeconds);
}

// An erase's work in page-erase times: a page of the F1, else a KiB of flash
// (sectors of 128 KiB take seconds).
int EraseWork(int firstUnit, int count) {
    if (TargetUsesF1Layout()) {
        return count;
    }
    return static_cast<int>(std::max(EraseUnitsBytes(firstUnit, count) / 1024, 1L));
}

void SendMassErase(int port) {
    erasePagesInFlight = 0;
    const int units = FlashLastPage() + 1;
    if (EraseCommandCode() == 0x44) {
        SendFrame(port, isp::extendedEraseCodeFrame(isp::ExtendedEraseCode::kMassErase),
                  EraseSeconds(EraseWork(0, units)));
        return;
    }
    const char frame[2] = {static_cast<char>(0xFF), 0x00};
    SendIspFrame(port, frame, 2, EraseSeconds(units));
}

void SendPageErase(int port) {
    if (EraseCommandCode() == 0x44) {
        erasePagesInFlight =
            std::min(sub_erase_page_number, static_cast<int>(isp::kMaxExtendedErasePages));
        std::vector<std::uint16_t> pages;
        for (int i = 0; i < erasePagesInFlight; i++) {
            pages.push_back(static_cast<std::uint16_t>(sub_erase_base_page + i));
        }
        SendFrame(port, *isp::extendedErasePageListFrame(pages),
                  EraseSeconds(EraseWork(sub_erase_base_page, erasePagesInFlight)));
        return;
    }
    erasePagesInFlight = std::min(sub_erase_page_number, kMaxErasePagesPerFrame);
    char frame[ISP_MAX_BLOCK + 2];
    SendIspFrame(port, frame, BuildPageListFrame(frame, sub_erase_base_page, erasePagesInFlight),
                 EraseSeconds(erasePagesInFlight));
}

// Image bytes of the data block in flight. The write position moves on only
// once the block is acknowledged, so it names the block that may be lost.
int writeBlockInFlight = 0;

// Sends the next block of the image. The bootloader acknowledges a block
// that is not a whole number of write units but leaves its last partial unit
// unprogrammed, so the last block is padded with erased bytes; the counts
// stay those of the image.
void SendNextBlock(int port) {
    const int count = sub_write_byte_number > ISP_MAX_BLOCK ? ISP_MAX_BLOCK : sub_write_byte_number;
    // Never past the image, whatever the counts say.
    if (f_temp == nullptr || sub_write_byte_iterator < 0 ||
        sub_write_byte_iterator + count > binLength || binLength > imageBufferBytes) {
        ProgrammingFailed(kWriteFailedText);
        return;
    }
    const int unit = WriteUnitBytes();
    const int padded = (count + unit - 1) / unit * unit;
    unsigned char block[ISP_MAX_BLOCK];
    std::memset(block, TargetErasedByte(), sizeof block);
    std::memcpy(block, f_temp + sub_write_byte_iterator, static_cast<std::size_t>(count));
    char frame[ISP_MAX_BLOCK + 2];
    Send(port, frame, BuildDataBlockFrame(frame, block, padded));
    ISP_mode = 7;
    sub_write_mode = 3;
    writeBlockInFlight = count;
}

void WriteComplete() {
    sub_erase_finish_mode = 0;
    // Back to idle: a later byte is no answer to this write.
    ISP_mode = 0;
    sub_write_mode = 0;
    if (StartVerify()) {
        return;
    }
    ProgrammingSucceeded();
}

}  // namespace

void ProgrammingSucceeded(void) {
    SetStatus("程序烧写完成");
    LogLine("程序烧写完成");
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, binLength);
    MessagePopup("", "   Flash烧写完成！\n可以使用GO命令运行一下！！");
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
}

void AbandonProgramming(void) {
    sub_erase_finish_mode = 0;
    sub_write_mode = 0;
    sub_write_base_addr = imageBaseAddress;
    sub_write_byte_iterator = 0;
    // The next run writes all of the image again.
    sub_write_byte_number = binLength;
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
}

void HandleEraseReply(int port, const unsigned char* reply, int /*length*/) {
    const bool ack = IsAck(reply);
    switch (sub_erase_mode) {
        case 1:
        case 2:
            if (ack) {
                if (sub_erase_mode == 1) {
                    SendMassErase(port);
                    fail_count = 0;
                } else {
                    SendPageErase(port);
                }
                ISP_mode = 8;
                sub_erase_mode = 3;
                return;
            }
            fail_count++;
            sub_handshake_mode = sub_erase_mode;
            Handshake();
            if (fail_count >= 3) {
                fail_count = 0;
                ISP_mode = 0;
                AbandonProgramming();
                MessagePopup(kWarningTitle, kEraseFailedText);
            }
            return;
        case 3:
            if (ack && sub_erase_page_number > erasePagesInFlight && erasePagesInFlight > 0) {
                // The rest of a range longer than one frame may list.
                sub_erase_base_page += erasePagesInFlight;
                sub_erase_page_number -= erasePagesInFlight;
                erasePagesInFlight = 0;
                sub_erase_mode = 2;
                EraseCmdSend();
                return;
            }
            erasePagesInFlight = 0;
            if (ack) {
                LogLineNoScroll("FLASH擦除完毕.");
                SetStatus("FLASH擦除成功！！！");
                if (sub_erase_finish_mode == 1) {
                    ISPCmdSend(0x31);
                    sub_write_mode = 1;
                } else {
                    ISP_mode = 0;
                    fail_count = 0;
                    sub_erase_mode = 0;
                }
                return;
            }
            sub_erase_mode = 0;
            ISP_sys_ready = 0;
            fail_count = 0;
            ISP_mode = 0;
            AbandonProgramming();
            MessagePopup(kWarningTitle, kEraseFailedText);
            return;
        default:
            return;
    }
}

void HandleWriteMemoryReply(int port, const unsigned char* reply, int /*length*/) {
    const bool ack = IsAck(reply);
    switch (sub_write_mode) {
        case 1:
            if (ack) {
                char frame[5];
                Send(port, frame, BuildAddressFrame(frame, sub_write_base_addr));
                ISP_mode = 7;
                sub_write_mode = 2;
                return;
            }
            // A run that gives up sends nothing more: the chip waits for a command.
            if (++fail_count >= 3) {
                fail_count = 0;
                ProgrammingFailed(kWriteFailedText);
                return;
            }
            sub_write_mode = 1;
            ISPCmdSend(0x31);
            return;
        case 2:
            if (ack) {
                if (sub_write_byte_number > 0) {
                    SendNextBlock(port);
                }
                return;
            }
            ProgrammingFailed(kWriteFailedText);
            return;
        case 3:
            if (!ack) {
                ProgrammingFailed(kBlockFailedText);
                return;
            }
            sub_write_byte_number -= writeBlockInFlight;
            sub_write_byte_iterator += writeBlockInFlight;
            sub_write_base_addr += writeBlockInFlight;
            writeBlockInFlight = 0;
            if (sub_write_byte_number != 0) {
                sub_write_mode = 1;
                ISPCmdSend(0x31);
                SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, binLength - sub_write_byte_number);
                ProgressReport(binLength - sub_write_byte_number);
                return;
            }
            WriteComplete();
            return;
        default:
            ProgrammingFailed(kWriteFailedText);
            return;
    }
}

void HandleGoReply(int port, const unsigned char* reply, int /*length*/) {
    const bool ack = IsAck(reply);
    switch (sub_go_mode) {
        case 1:
            if (ack) {
                const char frame[5] = {0x08, 0x00, 0x00, 0x00, 0x08};
                Send(port, frame, 5);
                sub_go_mode = 2;
                return;
            }
            if (++fail_count >= 3) {
                fail_count = 0;
                ISP_mode = 0;
                MessagePopup(kWarningTitle, kGoFailedText);
                return;
            }
            sub_go_mode = 1;
            ISPCmdSend(0x21);
            return;
        case 2:
            if (ack) {
                SetStatus("程序开始运行！！！");
                InsertTextBoxLine(termTabPanel, TABTERM_RECEIVE, -1, "程序开始运行！！！");
                // The program now owns the line: what it prints is no reply.
                ISP_mode = 0;
                sub_go_mode = 0;
                return;
            }
            fail_count = 0;
            ISP_mode = 0;
            MessagePopup(kWarningTitle, kGoFailedText);
            return;
        default:
            return;
    }
}
