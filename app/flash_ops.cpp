#include "flash_ops.h"

#include <cstdint>
#include <cstdio>

#include "ChipLoad.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "program_image.h"
#include "progress_status.h"
#include "read_exchange.h"
#include "reply_engine.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"

namespace {

constexpr char kWarning[] = "告警";

bool TargetReady() {
    if (ISP_sys_ready == 0) {
        MessagePopup(kWarning, "目标板未响应，请重新连接设备！！！");
        return false;
    }
    return true;
}

// Erasing, programming and reading need the part's flash layout, which the
// table gives only for the product IDs it knows.
bool GeometryKnown() {
    if (TargetUnknown()) {
        char text[160];
        std::snprintf(
            text, sizeof text,
            RTE_Translate("未知芯片（产品ID 0x%03X），没有它的FLASH布局，无法执行此操作！！！"),
            STM32_info.product_number);
        MessagePopup(kWarning, text);
        return false;
    }
    return true;
}

bool TargetReadyWithGeometry() {
    return TargetReady() && GeometryKnown();
}

// A bootloader whose Get reply listed no erase command cannot erase, and
// programming begins with an erase.
bool EraseOffered() {
    if (EraseCommandCode() == 0) {
        MessagePopup(kWarning, kNoEraseCommandText);
        return false;
    }
    return true;
}

// The page range of page_erase and page_read, checked in the operator's order.
bool ReadPageRange(int* start, int* end) {
    unsigned int first = 0;
    unsigned int last = 0;
    GetCtrlVal(opsTabPanel, TABOPS_STARTPAGE, &first);
    GetCtrlVal(opsTabPanel, TABOPS_ENDPAGE, &last);
    if (first > last) {
        MessagePopup(kWarning, "起始页大于终止页，请重新选择终止页码~~~~~");
        return false;
    }
    if (!GeometryKnown()) {
        return false;
    }
    const auto lastPage = static_cast<unsigned int>(FlashLastPage());
    if (first > lastPage || last > lastPage) {
        char text[128];
        std::snprintf(text, sizeof text,
                      RTE_Translate("片内FLASH只有%u页，请重新选择起始页和终止页！！"),
                      lastPage + 1);
        MessagePopup(kWarning, text);
        return false;
    }
    if (!TargetReady()) {
        return false;
    }
    *start = static_cast<int>(first);
    *end = static_cast<int>(last);
    return true;
}

void ResetProgress(int maximum) {
    SetCtrlAttribute(opsTabPanel, TABOPS_PROGRESS, ATTR_MAX_VALUE, maximum);
    SetCtrlAttribute(opsTabPanel, TABOPS_PROGRESS, ATTR_MIN_VALUE, 0);
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
}

// Two reads at once would share one pair of positions, and a read of nothing
// would never end: both are refused before anything is sent.
bool ReadMayStart(std::uint32_t length) {
    if (ReadInProgress()) {
        MessagePopup(kWarning, "上一次读取尚未完成，请稍候或重新连接设备！！！");
        return false;
    }
    if (length == 0) {
        MessagePopup(kWarning, "未获取FLASH容量，请重新连接设备！！！");
        return false;
    }
    return true;
}

bool StartRead(int baseAddress, std::uint32_t length, int display) {
    if (!BeginFlashRead(length, display, static_cast<std::uint32_t>(baseAddress))) {
        MessagePopup(kWarning, "内存不足，无法读取FLASH！！！");
        return false;
    }
    ResetReplyAssembly();
    sub_read_base_addr = baseAddress;
    sub_read_byte_number = static_cast<int>(length);
    sub_read_finish_mode = 0;
    return true;
}

// Reads shown in the log begin from a freshly reset target.
void ReadAndShow(int baseAddress, std::uint32_t length, const char* logText,
                 const char* statusText) {
    if (!ReadMayStart(length) || !StartRead(baseAddress, length, 1)) {
        return;
    }
    Handshake();
    sub_handshake_mode = 5;
    LogLineNoScroll(logText);
    SetStatus(statusText);
    ResetProgress(static_cast<int>(length));
    ProgressBegin("已读取", static_cast<long>(length));
}

// An image that runs past the identified flash would fail at its end with
// a message that blames the wiring; it is refused before anything is erased.
bool ImageFitsTarget(long startAddress, long length) {
    const long flashBytes = FlashBytes();
    if (flashBytes == 0 || startAddress - FLASH_BASE_ADDR + length <= flashBytes) {
        return true;
    }
    char text[192];
    std::snprintf(
        text, sizeof text,
        RTE_Translate("程序（%ld字节）超出芯片FLASH容量（%ld字节，%ldKB），无法烧写！！！"),
        startAddress - FLASH_BASE_ADDR + length, flashBytes, flashBytes / 1024);
    MessagePopup(kWarning, text);
    return false;
}

std::uint32_t WholeFlashLength() {
    return static_cast<std::uint32_t>(STM32_info.flash_size_kb) * 1024u;
}

}  // namespace

int chip_erase(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (GenericMessagePopup("芯片擦除提示", "请您确认是否擦除整片FLASH(Y/N)?", "确认擦除(__Y)",
                            "放弃擦除(__N)", "", nullptr, 0, 0, 2, 1, 0) != 1) {
        return 0;
    }
    if (!TargetReadyWithGeometry() || !EraseOffered()) {
        return 0;
    }
    ResetReplyAssembly();
    LogLineNoScroll("开始擦除FLASH信息...");
    SetStatus("擦除FLASH信息中...");
    // An erase started by the operator only erases.
    sub_erase_finish_mode = 0;
    sub_erase_page_number = 0;
    EraseCmdSend();
    sub_erase_mode = 1;
    return 0;
}

int page_erase(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int start = 0;
    int end = 0;
    if (!ReadPageRange(&start, &end) || !EraseOffered()) {
        return 0;
    }
    ResetReplyAssembly();
    sub_erase_finish_mode = 0;
    sub_erase_base_page = start;
    sub_erase_page_number = end - start + 1;
    LogLineNoScroll("开始分页擦除FLASH信息...");
    SetStatus("分页擦除FLASH信息中...");
    sub_erase_mode = 2;
    EraseCmdSend();
    return 0;
}

int FlashWrite(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReadyWithGeometry()) {
        return 0;
    }
    // The image stays loaded after a run: the next board is programmed from it.
    if (binLength <= 0 || f_temp == nullptr) {
        MessagePopup("", "请先加载hex文件！！！");
        return 0;
    }
    if (!ProgramImageCurrent() || !EraseOffered() || !FitProgramImageToTarget()) {
        return 0;
    }
    if (!ImageFitsTarget(imageBaseAddress, binLength)) {
        return 0;
    }
    ResetReplyAssembly();
    sub_erase_page_number = 0;
    sub_write_base_addr = imageBaseAddress;
    sub_write_byte_number = binLength;
    sub_write_byte_iterator = 0;
    EraseCmdSend();
    sub_erase_mode = 1;
    sub_erase_finish_mode = 1;
    ResetProgress(binLength);
    ProgressBegin("已烧写", binLength);
    SetStatus("开始装载程序");
    LogLineNoScroll("开始程序装载进程......");
    return 0;
}

int flashExcute(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReady()) {
        return 0;
    }
    ResetReplyAssembly();
    ISPCmdSend(0x21);
    sub_go_mode = 1;
    return 0;
}

int chip_read(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
              int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReadyWithGeometry()) {
        return 0;
    }
    ReadAndShow(FLASH_BASE_ADDR, WholeFlashLength(), "开始读取整片FLASH信息...",
                "读取整片FLASH信息中...");
    return 0;
}

int page_read(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
              int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int start = 0;
    int end = 0;
    if (!ReadPageRange(&start, &end)) {
        return 0;
    }
    ReadAndShow(static_cast<int>(FLASH_BASE_ADDR + EraseUnitOffset(start)),
                static_cast<std::uint32_t>(EraseUnitsBytes(start, end - start + 1)),
                "开始分页读取FLASH信息...", "分页读取FLASH信息中...");
    return 0;
}

int check_blank(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT || !TargetReadyWithGeometry()) {
        return 0;
    }
    const std::uint32_t length = WholeFlashLength();
    if (!ReadMayStart(length)) {
        return 0;
    }
    f_checkblank_erased = TargetErasedByte();
    if (!StartRead(FLASH_BASE_ADDR, length, 0)) {
        return 0;
    }
    sub_read_mode = 1;
    ISPCmdSend(0x11);
    LogLineNoScroll("Flash查空开始.");
    SetStatus("Flash查空开始...");
    ProgressBegin("已查空", static_cast<long>(length));
    return 0;
}

int flash_op_clear(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ResetTextBox(opsTabPanel, TABOPS_LOG, "");
    }
    return 0;
}

int set_page_addr(int /*panel*/, int /*control*/, int /*event*/, void* /*callbackData*/,
                  int /*eventData1*/, int /*eventData2*/) {
    return 0;
}
