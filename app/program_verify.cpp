#include "program_verify.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "ChipLoad.h"
#include "device_table.h"
#include "operator_messages.h"
#include "option_bytes.h"
#include "panel_handles.h"
#include "program_image.h"
#include "protection.h"
#include "reply_engine.h"
#include "reply_handlers.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"

namespace {

struct Mismatch {
    unsigned long address;
    unsigned int flash;
    unsigned int file;
};
Mismatch mismatch{};

void StartRead(int address, int length, int purpose) {
    ResetReplyAssembly();
    sub_read_base_addr = address;
    sub_read_byte_number = length;
    sub_read_finish_mode = purpose;
    sub_read_mode = 1;
    ISPCmdSend(0x11);
}

// The run is over and did not succeed: the status must not say it did.
void ShowFailure(const char* text) {
    LogLine(text);
    SetStatus(text);
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
}

// protectedGroup: the write-protected group holding the differing byte.
// otherProtected: protected groups elsewhere, which on some families keep a
// whole-chip erase from running at all.
void ReportMismatch(std::optional<std::uint32_t> protectedGroup,
                    const std::string& otherProtected = "") {
    char text[384];
    const int at = std::snprintf(
        text, sizeof text, RTE_Translate("校验失败：地址0x%08lX处FLASH为0x%02X，文件为0x%02X"),
        mismatch.address, mismatch.flash, mismatch.file);
    const auto rest =
        static_cast<std::size_t>(std::clamp(at, 0, static_cast<int>(sizeof text) - 1));
    if (protectedGroup) {
        std::snprintf(
            text + rest, sizeof text - rest,
            RTE_Translate("；该地址位于写保护组%u，Bootloader不擦写写保护的区域，烧写未成功！！！"),
            static_cast<unsigned int>(*protectedGroup));
    } else if (!otherProtected.empty()) {
        std::snprintf(
            text + rest, sizeof text - rest,
            RTE_Translate(
                "；芯片的写保护组%s处于写保护状态，整片擦除可能因此未执行，烧写未成功！！！"),
            otherProtected.c_str());
    } else {
        std::snprintf(text + rest, sizeof text - rest, "%s", RTE_Translate("，烧写未成功！！！"));
    }
    ShowFailure(text);
    if (protectedGroup || !otherProtected.empty()) {
        OfferWriteUnprotect(text);
    } else {
        MessagePopup(kWarningTitle, text);
    }
}

// The option bytes say whether the differing byte lies in a protected group.
bool ReadOptionBytes() {
    const isp::DeviceInfo* device = TargetDevice();
    if (device == nullptr || !device->optionLayout || device->optionBytesSize == 0 ||
        device->optionBytesSize > ISP_MAX_BLOCK) {
        return false;
    }
    StartRead(static_cast<int>(device->optionBytesAddr), static_cast<int>(device->optionBytesSize),
              READ_OPTION_BYTES);
    return true;
}

}  // namespace

int StartVerify(void) {
    int verify = 0;
    GetCtrlVal(opsTabPanel, TABOPS_VERIFY, &verify);
    if (verify == 0) {
        return 0;
    }
    LogLine("程序写入完毕，开始校验...");
    SetStatus("校验中...");
    StartRead(imageBaseAddress, binLength, READ_VERIFY);
    return 1;
}

void VerifyBlockArrived(const unsigned char* bytes, int count) {
    const long offset = static_cast<long>(sub_read_base_addr) - imageBaseAddress;
    if (f_temp == nullptr || offset < 0 || offset + count > binLength) {
        ReadEnded();
        const char* text = "校验失败：程序映像已不可用，请重新加载文件后烧写！！！";
        ShowFailure(text);
        MessagePopup(kWarningTitle, text);
        return;
    }
    for (int i = 0; i < count; i++) {
        const unsigned char expected = f_temp[offset + i];
        if (bytes[i] != expected) {
            mismatch = {
                static_cast<unsigned long>(sub_read_base_addr) + static_cast<unsigned long>(i),
                bytes[i], expected};
            ReadEnded();
            if (!ReadOptionBytes()) {
                ReportMismatch(std::nullopt);
            }
            return;
        }
    }
    if (RequestNextReadBlock(count)) {
        return;
    }
    ReadEnded();
    LogLine("校验通过");
    ProgrammingSucceeded();
}

void OptionBytesArrived(const unsigned char* bytes, int count) {
    ReadEnded();
    const isp::DeviceInfo* device = TargetDevice();
    const auto options =
        device ? isp::decodeOptionBytes(*device, std::span(bytes, static_cast<std::size_t>(count)))
               : std::nullopt;
    if (!options) {
        ReportMismatch(std::nullopt);
        return;
    }
    const auto& groups = options->protectedGroups;
    const auto group =
        isp::protectionGroupOf(*device, static_cast<std::uint32_t>(FlashBytes()),
                               static_cast<std::uint32_t>(mismatch.address - FLASH_BASE_ADDR));
    if (group && std::ranges::find(groups, *group) != groups.end()) {
        ReportMismatch(group);
        return;
    }
    std::string others;
    for (const std::uint32_t g : groups) {
        others += (others.empty() ? "" : ",") + std::to_string(g);
    }
    ReportMismatch(std::nullopt, others);
}
