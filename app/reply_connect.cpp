// Replies of connect and identify (synchronisation, Get Version, Get ID) and
// of Read Memory, which carries the identification block and every flash read.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <span>

#include "ChipLoad.h"
#include "TideComm.h"
#include "device_table.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_verify.h"
#include "protection.h"
#include "read_exchange.h"
#include "replies.h"
#include "reply_handlers.h"
#include "reply_timeout.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"

namespace {

// Bytes asked for by the length frame in flight. A read stopped meanwhile
// still receives them: the bootloader sends them whatever the host wants.
int readBlockInFlight = 0;
// The blank check's not-blank verdict, held until the block in flight is in.
bool notBlankHeld = false;

bool IsAck(const unsigned char* reply) {
    return reply[0] == ISP_ACK;
}

void EnableConnectButton() {
    SetCtrlAttribute(panelHandle, PANEL_CONNECT, ATTR_DIMMED, 0);
}

void Send(int port, const char* frame, int length) {
    SendIspFrame(port, frame, length);
}

// A refused Get Version or Get ID: re-synchronise, and give up on the third
// refusal since connect.
void IdentificationRefused() {
    EnableConnectButton();
    fail_count++;
    ISP_sys_ready = 0;
    ISP_mode = 0;
    Handshake();
    if (fail_count >= 3) {
        ISP_sys_ready = 0;
        fail_count = 0;
        MessagePopup(kWarningTitle, kConnectFailedText);
        ISP_mode = 0;
    }
}

// Flash-size class shown in TABOPS_CHIP.
int ChipClass(unsigned int flashKb) {
    switch (flashKb) {
        case 32:
            return 2;
        case 64:
            return 3;
        case 128:
            return 4;
        case 256:
            return 5;
        case 384:
            return 6;
        case 512:
            return 7;
        default:
            return 1;
    }
}

void ShowDecimal(int control, unsigned int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    SetCtrlVal(opsTabPanel, control, text);
}

constexpr int kFlashSizeWordLen = 2;
constexpr int kUidLen = 12;

void ShowSizes() {
    ShowDecimal(TABOPS_FLASHSIZE, STM32_info.flash_size_kb);
    ShowDecimal(TABOPS_RAMSIZE, STM32_info.ram_size_kb);
    LogLineNoScroll("获取FLASH和RAM容量...");
    SetStatus("成功获取FLASH和RAM容量！！！");
}

// Shows the 12 UID bytes and ends the identification.
void ShowUidAndFinish(const unsigned char* uidBytes) {
    char uid[2 * kUidLen + 1];
    for (int i = 0; i < kUidLen; i++) {
        TideComm_IntToHex(&uidBytes[i], uid + 2 * i, 2);
    }
    SetCtrlVal(opsTabPanel, TABOPS_UID, uid);
    LogLine("获取芯片UID...");
    SetStatus("成功获取芯片全球唯一标识码！！！");

    SetCtrlVal(opsTabPanel, TABOPS_CHIP, ChipClass(STM32_info.flash_size_kb));
    if (!TargetUsesF1Layout()) {
        // Sector and page numbers of the part, not the F1's one-byte pages.
        const int last = std::max(FlashLastPage(), 0);
        SetCtrlAttribute(opsTabPanel, TABOPS_STARTPAGE, ATTR_MAX_VALUE, last);
        SetCtrlAttribute(opsTabPanel, TABOPS_ENDPAGE, ATTR_MAX_VALUE, last);
    }
    ISP_mode = 0;
    EnableConnectButton();
    IdentificationFinished();
}

// d: the 22 bytes of the identification block.
void ParseIdentification(const unsigned char* d) {
    STM32_info.flash_size_kb = static_cast<unsigned short>(d[0] + 256 * d[1]);
    STM32_info.ram_size_kb = static_cast<unsigned short>(d[2] + 256 * d[3]);
    ShowSizes();
    ShowUidAndFinish(d + 8);
}

void StartIdentificationRead(std::uint32_t address, int length, int finishMode) {
    sub_read_base_addr = static_cast<int>(address);
    sub_read_byte_number = length;
    sub_read_finish_mode = finishMode;
    sub_read_mode = 1;
    ISPCmdSend(0x11);
}

// d: the flash-size word of a part that is no F1. A word beyond the table's
// largest part of the ID (an erased or unprogrammed word) is taken as that.
void ParseFlashSizeWord(const isp::DeviceInfo& device, const unsigned char* d) {
    const unsigned int maxKb = device.flashSizeMax / 1024;
    unsigned int kb = d[0] + 256u * d[1];
    if (kb == 0 || kb > maxKb) {
        kb = maxKb;
    }
    STM32_info.flash_size_kb = static_cast<unsigned short>(kb);
    STM32_info.ram_size_kb = static_cast<unsigned short>(device.ramSize / 1024);
    ShowSizes();
    StartIdentificationRead(device.uidAddr, kUidLen, READ_ID_UID);
}

// Name, family and product ID for the window and the log.
void ShowDeviceName(const isp::DeviceInfo* device) {
    char text[160];
    if (device != nullptr) {
        std::snprintf(text, sizeof text, "%s (%s)", device->name.c_str(), device->family.c_str());
    } else {
        std::snprintf(text, sizeof text, RTE_Translate("未知芯片 (产品ID 0x%03X)"),
                      STM32_info.product_number);
    }
    SetCtrlVal(opsTabPanel, TABOPS_DEVICE, text);
    char line[192];
    std::snprintf(line, sizeof line, RTE_Translate("芯片型号：%s"), text);
    LogLine(line);
}

void ReadBlockArrived(const unsigned char* reply, int length) {
    const int block = readBlockInFlight;
    if (length < 1 + block) {
        return;
    }
    // A read that a worker has ended (a blank check that found data) takes
    // no more bytes and asks for no more blocks; nor does a block that is
    // not the one this read asked for.
    const int remaining = sub_read_byte_number.load();
    if (remaining <= 0 || block <= 0 || block > remaining) {
        ReadEnded();
        return;
    }
    if (sub_read_finish_mode == READ_ID_F1_BLOCK && block == ID_BLOCK_LEN) {
        ParseIdentification(reply + 1);
        return;
    }
    if (sub_read_finish_mode == READ_ID_FLASH_SIZE && block == kFlashSizeWordLen &&
        TargetDevice() != nullptr) {
        ParseFlashSizeWord(*TargetDevice(), reply + 1);
        return;
    }
    if (sub_read_finish_mode == READ_ID_UID && block == kUidLen) {
        ShowUidAndFinish(reply + 1);
        return;
    }
    if (sub_read_finish_mode == READ_OPTION_BYTES && block == remaining) {
        OptionBytesArrived(reply + 1, block);
        return;
    }
    if (sub_read_finish_mode == READ_VERIFY) {
        VerifyBlockArrived(reply + 1, block);
        return;
    }
    // Raised before the bytes are stored, which wakes the blank-check worker.
    if (block == ISP_MAX_BLOCK) {
        f_checkblank_rxint_start = 1;
    }
    if (!StoreReadBlock(reply + 1, static_cast<std::uint32_t>(block))) {
        ReadEnded();
        return;
    }
    if (RequestNextReadBlock(block)) {
        return;
    }
    // Every block is in: later bytes on the line are no read reply.
    ReadEnded();
}

}  // namespace

int ReadMemoryReplyLength(void) {
    return sub_read_mode == 3 ? 1 + readBlockInFlight : 1;
}

void NotBlankVerdict(void) {
    if (ISP_mode == 5) {
        notBlankHeld = true;
        return;
    }
    MessagePopup(kWarningTitle, kNotBlankText);
}

bool RequestNextReadBlock(int count) {
    sub_read_base_addr += count;
    sub_read_byte_number -= count;
    if (sub_read_byte_number.load() <= 0) {
        return false;
    }
    sub_read_mode = 1;
    ISPCmdSend(0x11);
    return true;
}

void ReadEnded(void) {
    if (ISP_mode == 5) {
        ISP_mode = 0;
    }
    sub_read_mode = 0;
    if (notBlankHeld) {
        notBlankHeld = false;
        MessagePopup(kWarningTitle, kNotBlankText);
    }
}

void HandleSyncReply(int /*port*/, const unsigned char* reply, int /*length*/) {
    if (IsAck(reply)) {
        EndConnectWait();
        ISP_sys_ready = 1;
        switch (sub_handshake_mode) {
            case 1:
                sub_erase_mode = 1;
                EraseCmdSend();
                break;
            case 2:
                sub_erase_mode = 2;
                EraseCmdSend();
                break;
            case 5:
                if (sub_read_byte_number.load() <= 0) {
                    ISP_mode = 0;
                    ReadEnded();
                    break;
                }
                sub_read_mode = 1;
                ISPCmdSend(0x11);
                break;
            default:
                ISPCmdSend(0x01);
                break;
        }
        return;
    }
    EnableConnectButton();
    fail_count++;
    ISP_sys_ready = 0;
    Handshake();
    if (fail_count >= 3) {
        ISP_sys_ready = 0;
        fail_count = 0;
        MessagePopup(kWarningTitle, kConnectFailedText);
        ISP_mode = 0;
        ISP_fail();
    }
}

void HandleGetVersionReply(int /*port*/, const unsigned char* reply, int length) {
    if (length < 5 || !IsAck(reply) || reply[4] != ISP_ACK) {
        IdentificationRefused();
        return;
    }
    ISP_sys_ready = 1;
    const unsigned char version = reply[1];
    char* text = STM32_info.bootloader_version;
    text[0] = 'V';
    text[1] = static_cast<char>('0' + (version >> 4));
    text[2] = '.';
    text[3] = static_cast<char>('0' + (version & 0x0F));
    text[4] = '\0';
    LogLine("获取Bootloader版本号...");
    SetStatus("成功获取Bootloader版本号！！！");
    SetCtrlVal(opsTabPanel, TABOPS_VERSION, STM32_info.bootloader_version);
    ISPCmdSend(0x02);
}

void HandleGetIdReply(int /*port*/, const unsigned char* reply, int length) {
    if (length < 2 || !IsAck(reply) || reply[1] >= MAX_PRODUCT_ID_BYTES || length < reply[1] + 4) {
        IdentificationRefused();
        return;
    }
    ISP_sys_ready = 1;
    const int idBytes = reply[1] + 1;
    // Digits are the nibble plus '0': a nibble above 9 shows as the
    // character after '9', as the operator has always seen it.
    for (int i = 0; i < idBytes; i++) {
        const unsigned char b = reply[2 + i];
        STM32_info.product_id[2 * i] = static_cast<char>('0' + (b >> 4));
        STM32_info.product_id[2 * i + 1] = static_cast<char>('0' + (b & 0x0F));
    }
    STM32_info.product_id[2 * idBytes] = '\0';
    LogLine("获取Product ID...");
    SetStatus("成功获取Product ID！！！");
    SetCtrlVal(opsTabPanel, TABOPS_PID, STM32_info.product_id);
    if (idBytes == 2) {
        STM32_info.product_number = static_cast<unsigned short>(reply[2] << 8 | reply[3]);
    }
    ForgetOfferedEraseCommand();
    if (STM32_info.product_number != 0) {
        ShowDeviceName(TargetDevice());
    }
    if (TargetUsesF1Layout()) {
        StartIdentificationRead(ID_BLOCK_ADDR, ID_BLOCK_LEN, READ_ID_F1_BLOCK);
        return;
    }
    // Which erase command this bootloader takes: its own list, not the table.
    ISPCmdSend(0x00);
}

void HandleGetReply(int /*port*/, const unsigned char* reply, int length) {
    const auto offered = length < 2 || reply[1] >= MAX_GET_COMMANDS
                             ? std::nullopt
                             : isp::decodeGet(std::span(reply, static_cast<std::size_t>(length)));
    if (!offered) {
        IdentificationRefused();
        return;
    }
    const int erase = offered->supports(isp::Command::kExtendedErase) ? 0x44
                      : offered->supports(isp::Command::kErase)       ? 0x43
                                                                      : 0;
    RecordOfferedEraseCommand(erase);
    if (erase != 0) {
        char line[64];
        std::snprintf(line, sizeof line, RTE_Translate("Bootloader擦除命令：0x%02X"), erase);
        LogLine(line);
    } else {
        LogLine(kNoEraseCommandText);
    }
    const isp::DeviceInfo* device = TargetDevice();
    if (device == nullptr) {
        // Nothing known to read: the operations that need the geometry say so.
        SetStatus("未知芯片，无法获取FLASH容量！！！");
        SetCtrlVal(opsTabPanel, TABOPS_CHIP, 1);
        ISP_mode = 0;
        EnableConnectButton();
        return;
    }
    StartIdentificationRead(device->flashSizeAddr, kFlashSizeWordLen, READ_ID_FLASH_SIZE);
}

void HandleReadMemoryReply(int port, const unsigned char* reply, int length) {
    const bool ack = IsAck(reply);
    switch (sub_read_mode) {
        case 1:
            if (ack) {
                char frame[5];
                Send(port, frame, BuildAddressFrame(frame, sub_read_base_addr));
                ISP_mode = 5;
                sub_read_mode = 2;
                return;
            }
            EnableConnectButton();
            fail_count++;
            // Refused three times right after Get ID answered: the chip is
            // read-protected. It waits for a command, so nothing is sent
            // before the operator has chosen.
            if (fail_count >= 3 && sub_read_finish_mode >= READ_ID_F1_BLOCK &&
                sub_read_finish_mode <= READ_ID_UID) {
                fail_count = 0;
                ISP_mode = 0;
                ReadEnded();
                ReadProtectionFound();
                return;
            }
            Handshake();
            sub_handshake_mode = 5;
            if (fail_count >= 3) {
                fail_count = 0;
                ISP_mode = 0;
                MessagePopup(kWarningTitle, kReadCommandFailedText);
                ReadEnded();
            }
            return;
        case 2:
            if (ack) {
                // The bootloader now waits for a length whatever happened
                // meanwhile: a read stopped since ends its command with one byte.
                const int remaining = sub_read_byte_number.load();
                readBlockInFlight = remaining <= 0               ? 1
                                    : remaining >= ISP_MAX_BLOCK ? ISP_MAX_BLOCK
                                                                 : remaining;
                char frame[2];
                SendIspFrame(port, frame, BuildReadLengthFrame(frame, readBlockInFlight), 0.0,
                             ISP_ACK_REPLY_LEN + readBlockInFlight);
                ISP_mode = 5;
                sub_read_mode = 3;
                return;
            }
            EnableConnectButton();
            ISP_mode = 0;
            MessagePopup(kWarningTitle, kReadCommandFailedText);
            ReadEnded();
            return;
        case 3:
            if (ack) {
                ReadBlockArrived(reply, length);
                return;
            }
            ISP_mode = 0;
            MessagePopup(kWarningTitle, kReadFailedText);
            ReadEnded();
            return;
        default:
            ISP_mode = 0;
            MessagePopup(kWarningTitle, kReadFailedText);
            ReadEnded();
            return;
    }
}
