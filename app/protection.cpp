#include "protection.h"

#include <algorithm>
#include <string>

#include "ChipLoad.h"
#include "device_table.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "reply_engine.h"
#include "reply_handlers.h"
#include "reply_timeout.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"

namespace {

enum class Lift { kNone, kRead, kWrite };

// The unprotect awaiting its two ACKs.
Lift lifting = Lift::kNone;
// The unprotect whose reconnection runs; reported when it has identified the chip.
Lift reconnecting = Lift::kNone;

constexpr char kReadUnprotectQuestion[] =
    "解除读保护将擦除整个Flash（其中的程序和数据全部丢失），芯片随后复位，程序自动重新连接。\n"
    "确认解除读保护吗？";
constexpr char kWriteUnprotectQuestion[] =
    "解除写保护后芯片复位，程序自动重新连接，Flash内容不变。\n确认解除写保护吗？";

bool Confirm(const char* title, const char* message) {
    // The focus and Enter stay on keeping the protection: lifting it is
    // chosen on purpose.
    return GenericMessagePopup(title, message, "确认解除(__Y)", "暂不解除(__N)", "", nullptr, 0, 0,
                               2, 2, 2) == 1;
}

// A mass erase may take the part's whole flash in page-erase times.
double ReadUnprotectSeconds() {
    const isp::DeviceInfo* device = TargetDevice();
    const long kib = device != nullptr ? static_cast<long>(device->flashSizeMax / 1024) : 0;
    return EraseSeconds(static_cast<int>(std::max(kib, 256L)));
}

void SendUnprotect(Lift what) {
    ResetReplyAssembly();
    lifting = what;
    reconnecting = Lift::kNone;
    if (what == Lift::kRead) {
        LogLine("开始解除读保护（擦除整片FLASH）...");
        SetStatus("解除读保护中，正在擦除整片FLASH...");
        ISPCmdSend(0x92);
    } else {
        LogLine("开始解除写保护...");
        SetStatus("解除写保护中...");
        ISPCmdSend(0x73);
    }
    // The second ACK comes once the option bytes are written (and, for read
    // protection, the flash erased).
    AwaitReply(what == Lift::kRead ? ReadUnprotectSeconds() : EraseSeconds(16));
}

// After the chip's own reset: the connect's exchange again, from the reset
// pulse and the synchronisation byte, with the fields shown afresh.
void Reconnect(Lift what) {
    reconnecting = what;
    for (const int field :
         {TABOPS_VERSION, TABOPS_PID, TABOPS_FLASHSIZE, TABOPS_RAMSIZE, TABOPS_UID}) {
        SetCtrlVal(opsTabPanel, field, "");
    }
    fail_count = 0;
    sub_handshake_mode = 0;
    sub_read_finish_mode = READ_FOR_DISPLAY;
    ResetReplyAssembly();
    Handshake();
}

// reply: the command's ACK and the final one, or a refusal in either place.
void HandleUnprotectReply(Lift what, const unsigned char* reply, int length) {
    if (lifting != what) {
        return;
    }
    lifting = Lift::kNone;
    if (reply[0] != ISP_ACK || length < 2 || reply[1] != ISP_ACK) {
        ISP_mode = 0;
        const char* text = what == Lift::kRead
                               ? "解除读保护失败：Bootloader拒绝了命令，芯片保持原状！！！"
                               : "解除写保护失败：Bootloader拒绝了命令，芯片保持原状！！！";
        LogLine(text);
        SetStatus(text);
        MessagePopup(kWarningTitle, text);
        return;
    }
    LogLine(what == Lift::kRead ? "读保护已解除，整片FLASH已擦除；芯片复位，重新连接中..."
                                : "写保护已解除；芯片复位，重新连接中...");
    SetStatus("芯片已复位，重新连接中...");
    Reconnect(what);
}

bool TargetReady() {
    if (ISP_sys_ready == 0) {
        MessagePopup(kWarningTitle, "目标板未响应，请重新连接设备！！！");
        return false;
    }
    return true;
}

}  // namespace

int read_unprotect(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReady()) {
        return 0;
    }
    if (Confirm("解除读保护", kReadUnprotectQuestion)) {
        SendUnprotect(Lift::kRead);
    }
    return 0;
}

int write_unprotect(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                    int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReady()) {
        return 0;
    }
    if (Confirm("解除写保护", kWriteUnprotectQuestion)) {
        SendUnprotect(Lift::kWrite);
    }
    return 0;
}

void ReadProtectionFound(void) {
    reconnecting = Lift::kNone;
    LogLine(kReadProtectedText);
    SetStatus(kReadProtectedText);
    const std::string question = std::string(RTE_Translate(kReadProtectedText)) + "\n\n" +
                                 RTE_Translate(kReadUnprotectQuestion);
    if (Confirm("芯片读保护", question.c_str())) {
        SendUnprotect(Lift::kRead);
    }
}

void IdentificationFinished(void) {
    if (reconnecting == Lift::kNone) {
        return;
    }
    const char* text = reconnecting == Lift::kRead
                           ? "读保护已解除，FLASH已擦除，芯片已重新连接，可以烧写程序"
                           : "写保护已解除，芯片已重新连接，可以重新烧写程序";
    reconnecting = Lift::kNone;
    LogLine(text);
    SetStatus(text);
}

void HandleWriteUnprotectReply(int /*port*/, const unsigned char* reply, int length) {
    HandleUnprotectReply(Lift::kWrite, reply, length);
}

void HandleReadoutUnprotectReply(int /*port*/, const unsigned char* reply, int length) {
    HandleUnprotectReply(Lift::kRead, reply, length);
}

void OfferWriteUnprotect(const char* finding) {
    const std::string question =
        std::string(finding) + "\n\n" + RTE_Translate(kWriteUnprotectQuestion);
    if (Confirm("芯片写保护", question.c_str())) {
        SendUnprotect(Lift::kWrite);
    }
}
