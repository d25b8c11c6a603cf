#include "session.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include <windows.h>
#include "ChipLoad.h"
#include "TideComm.h"
#include "asynctimer.h"
#include "device_table.h"
#include "frames.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "receive_log.h"
#include "reply_assembler.h"
#include "reply_timeout.h"
#include "rte.h"

int ISP_mode = 0;
int sub_handshake_mode = 0;
int ISP_sys_ready = 0;
int fail_count = 0;

int sub_erase_mode = 0;
int sub_erase_base_page = 0;
int sub_erase_page_number = 0;
int sub_erase_finish_mode = 0;

int sub_read_mode = 0;
int sub_read_base_addr = 0;
std::atomic<int> sub_read_byte_number{0};
int sub_read_finish_mode = 0;

int sub_go_mode = 0;

int sub_write_mode = 0;
int sub_write_base_addr = 0;
int sub_write_byte_number = 0;
int sub_write_byte_iterator = 0;

STM32_INFO STM32_info;

namespace {

// ISP_mode that each bootloader command code waits in.
int ModeOfCommand(int code) {
    switch (code) {
        case 0x00:
            return 2;
        case 0x01:
            return 3;
        case 0x02:
            return 4;
        case 0x11:
            return 5;
        case 0x21:
            return 6;
        case 0x31:
            return 7;
        case 0x43:
            return 8;
        case 0x63:
            return 9;
        case 0x73:
            return 10;
        case 0x82:
            return 11;
        case 0x92:
            return 12;
        default:
            return 0;
    }
}

// Bytes of the reply a command frame gets when the bootloader accepts it; 0 when only the
// reply itself tells (Get lists a count of commands).
int ReplyLengthOfCommand(int code) {
    switch (code) {
        case 0x00:
            return 0;
        case 0x01:
            return static_cast<int>(isp::kGetVersionShape.fixed + 1);
        case 0x02:
            // The two-byte product ID every STM32 answers with.
            return static_cast<int>(isp::kGetIdShape.fixed + 2 + 1);
        default:
            return ISP_ACK_REPLY_LEN;
    }
}

char ToByte(int value) {
    return static_cast<char>(value & 0xFF);
}

// The bootloader library defines the layouts; the window copies them into
// its send buffers.
int CopyFrame(char* out, const isp::Bytes& frame) {
    std::memcpy(out, frame.data(), frame.size());
    return static_cast<int>(frame.size());
}

unsigned int framesSent = 0;

// The erase command the Get reply listed; -1 while no Get reply was read.
int offeredEraseCommand = -1;

// The connect's first synchronisation has the response timer of its own.
bool ConnectTimerRunning() {
    int enabled = 0;
    return TimerID1 >= 0 && GetAsyncTimerAttribute(TimerID1, TIMER_ATTR_ENABLED, &enabled) == 0 &&
           enabled != 0;
}

// The most pages a one-byte page number can name.
constexpr int kMaxPages = 256;
// What the window has always held and addressed before an identification.
constexpr long kF1ImageBytes = 131072;

// Erase units of the identified part (not an F1), cached per part and size.
const std::vector<std::uint32_t>& TargetUnits() {
    static const isp::DeviceInfo* cachedDevice = nullptr;
    static unsigned short cachedKb = 0;
    static std::vector<std::uint32_t> units;
    const isp::DeviceInfo* device = TargetDevice();
    if (device != cachedDevice || STM32_info.flash_size_kb != cachedKb) {
        cachedDevice = device;
        cachedKb = STM32_info.flash_size_kb;
        units = device ? isp::eraseUnitsFor(*device, static_cast<std::uint32_t>(FlashBytes()))
                       : std::vector<std::uint32_t>{};
    }
    return units;
}

}  // namespace

void ResetSessionState(void) {
    ISP_mode = sub_handshake_mode = ISP_sys_ready = fail_count = 0;
    sub_erase_mode = sub_erase_base_page = sub_erase_page_number = sub_erase_finish_mode = 0;
    sub_read_mode = sub_read_base_addr = sub_read_finish_mode = 0;
    sub_read_byte_number = 0;
    sub_go_mode = 0;
    sub_write_mode = sub_write_base_addr = sub_write_byte_number = sub_write_byte_iterator = 0;
    std::memset(&STM32_info, 0, sizeof STM32_info);
    framesSent = 0;
    offeredEraseCommand = -1;
    StopAwaitingReply();
}

void SendIspFrame(int port, const char* frame, int length, double workSeconds, int replyLength) {
    framesSent++;
    // Set before the frame goes: the reply cannot start before it.
    TideComm_SetReplyLength(port, replyLength);
    TideComm_OutputBuffer(port, frame, length);
    AwaitReply(workSeconds);
}

unsigned int SessionFrameCount(void) {
    return framesSent;
}

int IspExchangeInFlight(void) {
    return ISP_mode != 0;
}

int FlashPageSize(void) {
    if (!TargetUsesF1Layout()) {
        const auto& units = TargetUnits();
        return units.empty() ? 0 : static_cast<int>(units.front());
    }
    return STM32_info.flash_size_kb <= 128 ? 1024 : 2048;
}

const isp::DeviceInfo* TargetDevice(void) {
    if (STM32_info.product_number == 0) {
        return nullptr;
    }
    return isp::DeviceTable::builtin().find(STM32_info.product_number);
}

int TargetUsesF1Layout(void) {
    if (STM32_info.product_number == 0) {
        return 1;
    }
    const isp::DeviceInfo* device = TargetDevice();
    return device != nullptr && device->family == "F1";
}

int TargetUnknown(void) {
    return STM32_info.product_number != 0 && TargetDevice() == nullptr;
}

void RecordOfferedEraseCommand(int code) {
    offeredEraseCommand = code;
}

void ForgetOfferedEraseCommand(void) {
    offeredEraseCommand = -1;
}

int EraseCommandCode(void) {
    if (offeredEraseCommand >= 0) {
        return offeredEraseCommand;
    }
    const isp::DeviceInfo* device = TargetDevice();
    return device != nullptr && device->erase == isp::EraseCommand::kExtendedErase ? 0x44 : 0x43;
}

unsigned char TargetErasedByte(void) {
    const isp::DeviceInfo* device = TargetDevice();
    return device != nullptr ? device->erasedByte : isp::kErasedByte;
}

int WriteUnitBytes(void) {
    const isp::DeviceInfo* device = TargetDevice();
    // Whole words at least: the bootloader leaves a partial word unprogrammed.
    const int unit = device != nullptr ? static_cast<int>(device->writeUnit) : 4;
    return std::max(unit, 4);
}

long ImageCapacity(void) {
    return std::max(kF1ImageBytes, FlashBytes());
}

long EraseUnitOffset(int unit) {
    if (TargetUsesF1Layout()) {
        return static_cast<long>(unit) * FlashPageSize();
    }
    const auto& units = TargetUnits();
    long offset = 0;
    for (int i = 0; i < unit && i < static_cast<int>(units.size()); i++) {
        offset += units[static_cast<std::size_t>(i)];
    }
    return offset;
}

long EraseUnitsBytes(int firstUnit, int count) {
    return EraseUnitOffset(firstUnit + count) - EraseUnitOffset(firstUnit);
}

long FlashBytes(void) {
    return static_cast<long>(STM32_info.flash_size_kb) * 1024;
}

int FlashLastPage(void) {
    if (!TargetUsesF1Layout()) {
        return static_cast<int>(TargetUnits().size()) - 1;
    }
    if (STM32_info.flash_size_kb == 0) {
        return 127;
    }
    const long pages = FlashBytes() / FlashPageSize();
    return static_cast<int>(pages < kMaxPages ? pages : kMaxPages) - 1;
}

int ISPCmdSend(int code) {
    ISP_mode = ModeOfCommand(code);
    if (ISP_mode == 0) {
        return 0;
    }
    char frame[2];
    SendIspFrame(comport, frame,
                 CopyFrame(frame, isp::commandFrame(static_cast<isp::Command>(code))), 0.0,
                 ReplyLengthOfCommand(code));
    return 1;
}

int EraseCmdSend(void) {
    const int code = EraseCommandCode();
    if (code == 0x43) {
        return ISPCmdSend(0x43);
    }
    if (code != 0x44) {
        return 0;
    }
    ISP_mode = ModeOfCommand(0x43);
    char frame[2];
    SendIspFrame(comport, frame, CopyFrame(frame, isp::commandFrame(isp::Command::kExtendedErase)));
    return 1;
}

void int2str(char* out, int value) {
    const auto bits = static_cast<unsigned int>(value);
    out[0] = ToByte(static_cast<int>(bits >> 24));
    out[1] = ToByte(static_cast<int>(bits >> 16));
    out[2] = ToByte(static_cast<int>(bits >> 8));
    out[3] = ToByte(static_cast<int>(bits));
}

int BuildAddressFrame(char* out, int address) {
    return CopyFrame(out, isp::addressFrame(static_cast<std::uint32_t>(address)));
}

int BuildReadLengthFrame(char* out, int count) {
    const auto frame = isp::lengthFrame(static_cast<std::size_t>(count < 0 ? 0 : count));
    return frame ? CopyFrame(out, *frame) : 0;
}

int BuildDataBlockFrame(char* out, const unsigned char* data, int count) {
    const auto frame =
        isp::dataBlockFrame(std::span(data, static_cast<std::size_t>(count < 0 ? 0 : count)));
    return frame ? CopyFrame(out, *frame) : 0;
}

int BuildPageListFrame(char* out, int firstPage, int pageCount) {
    int checksum = pageCount - 1;
    out[0] = ToByte(pageCount - 1);
    for (int i = 0; i < pageCount; i++) {
        const int page = (firstPage + i) & 0xFF;
        out[1 + i] = ToByte(page);
        checksum ^= page;
    }
    out[pageCount + 1] = ToByte(checksum);
    return pageCount + 2;
}

void BoardReset(void) {
    TideComm_SetDTREnable(comport, 0);
    TideComm_SetDTREnable(comport, 1);
    Sleep(30);
    TideComm_SetDTREnable(comport, 0);
}

int Handshake(void) {
    ISP_mode = 1;
    BoardReset();
    const char sync = ToByte(ISP_SYNC);
    framesSent++;
    TideComm_SetReplyLength(comport, ISP_ACK_REPLY_LEN);
    TideComm_OutputBuffer(comport, &sync, 1);
    if (ConnectTimerRunning()) {
        StopAwaitingReply();
    } else {
        AwaitReply(0.0);
    }
    return 1;
}

void BootloaderModeSelect(void) {
    TideComm_SetRTSEnable(comport, 1);
}

void BootloaderModeDeSelect(void) {
    TideComm_SetRTSEnable(comport, 0);
}

void ISP_fail(void) {
    TideComm_SetDTREnable(comport, 0);
    TideComm_SetRTSEnable(comport, 0);
    TideComm_Close(comport);
    CloseReceiveLog();
    MessagePopup("警告", "串口错误，请检查线路！！！");
}

namespace {

void ShowConnectTimeout() {
    static const char kTimeout[] = "目标板响应超时，请检查线路！！";
    SetStatus(kTimeout);
    LogLine(kTimeout);
    SetCtrlAttribute(panelHandle, PANEL_CONNECT, ATTR_DIMMED, 0);
}

}  // namespace

int NACK_process(int /*reserved*/, int /*timer*/, int event, void* /*callbackData*/,
                 void* /*eventData1*/, void* /*eventData2*/) {
    if (event == ASYNC_TIMER_EVENT_TICK) {
        ReportConnectTimeout(ShowConnectTimeout);
    }
    return 0;
}
