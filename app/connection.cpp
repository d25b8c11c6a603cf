#include "connection.h"

#include <string>

#include "ChipLoad.h"
#include "TideComm.h"
#include "asynctimer.h"
#include "connection_failure.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "port_map.h"
#include "receive_log.h"
#include "receive_overflow.h"
#include "reply_engine.h"
#include "reply_timeout.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"
#include "startup.h"
#include "stop_bits.h"

int comport = 0;

namespace {

int connectFlag = 0;

struct PortSettings {
    int baudRate;
    int parity;
    int dataBits;
    int stopBits;  // as the panel shows it
    int inputMode;
};

PortSettings ReadPortSettings() {
    PortSettings settings{};
    GetCtrlVal(panelHandle, PANEL_BAUDRATE, &settings.baudRate);
    GetCtrlVal(panelHandle, PANEL_PARITY, &settings.parity);
    GetCtrlVal(panelHandle, PANEL_DATABITS, &settings.dataBits);
    GetCtrlVal(panelHandle, PANEL_STOPBITS, &settings.stopBits);
    GetCtrlVal(termTabPanel, TABTERM_MODE, &settings.inputMode);
    return settings;
}

// The first setting the bootloader cannot work with, or null.
const char* BootloaderFormatProblem(const PortSettings& settings) {
    if (settings.baudRate < 1200 || settings.baudRate > 115200) {
        return "波特率不在规定范围（1200至115200）\n请重新配置！！！";
    }
    if (settings.parity != 2) {
        return "请使用偶校验！！！";
    }
    if (settings.dataBits != 8) {
        return "数据位必须为8位！！！";
    }
    if (settings.stopBits != 1) {
        return "停止位必须为1位！！！";
    }
    if (settings.inputMode != 1) {
        return "请将接收和发送方式设置为hex模式！！！";
    }
    return nullptr;
}

void ApplyOutputLinesFromKeys() {
    int dtr = 0;
    int rts = 0;
    GetCtrlVal(panelHandle, PANEL_DTR, &dtr);
    GetCtrlVal(panelHandle, PANEL_RTS, &rts);
    TideComm_SetDTREnable(comport, dtr);
    TideComm_SetRTSEnable(comport, rts);
}

void ClearIdentification() {
    SetCtrlVal(opsTabPanel, TABOPS_VERSION, "");
    SetCtrlVal(opsTabPanel, TABOPS_PID, "");
    SetCtrlVal(opsTabPanel, TABOPS_FLASHSIZE, "");
    SetCtrlVal(opsTabPanel, TABOPS_RAMSIZE, "");
    SetCtrlVal(opsTabPanel, TABOPS_UID, "");
    SetCtrlVal(opsTabPanel, TABOPS_DEVICE, "");
}

// The reply engine gathers a reply that arrives in pieces, so a read may end
// after a pause of a few character times. The library's 100 ms default would
// add 100 ms to every reply: ten times the line time of a whole programming run.
unsigned int BootloaderReadInterval(int baudRate) {
    const unsigned int tenCharactersMs = 10u * 11u * 1000u / static_cast<unsigned int>(baudRate);
    return tenCharactersMs > 2u ? tenCharactersMs : 2u;
}

// The terminal keeps the library's default: a pause that long ends a line of
// typed or periodic data.
constexpr unsigned int kTerminalReadInterval = 100;
// The ring holds what arrives while the window is busy, about 0.7 s at
// 921600 baud, so a redraw or a busy moment loses nothing.
constexpr int kTerminalRingBytes = 65536;
constexpr int kBinaryInput = 1;

void ShowConnectState(int connected) {
    connectFlag = connected;
    SetCtrlAttribute(panelHandle, PANEL_CONNECT, ATTR_LABEL_TEXT,
                     connected ? "断开连接" : "连接设备");
}

// Names the device and why it did not open; the port is forgotten.
void ReportOpenFailure() {
    const std::string failure = PortOpenFailure(comport);
    LogLine((RTE_Translate("串口打开失败：") + failure).c_str());
    MessagePopup("Warning~~~~~~", (RTE_Translate("串口打开失败！！！\n") + failure).c_str());
    RTE_Beep();
    SetCtrlVal(panelHandle, PANEL_OPENLED, 0);
    comport = 0;
}

int PortHungUp(int port);

// A port the terminal opened keeps its long interval until told otherwise.
void UseReadInterval(unsigned int intervalMs) {
    TideComm_SetReadIntervalTimeout(comport, intervalMs);
    if (TideComm_GetPortOpen(comport)) {
        TideComm_SetTimeout(comport);
    }
}

// False when the port could not be opened (the operator has been told).
bool OpenForBootloader(const PortSettings& settings) {
    TideComm_SetReadIntervalTimeout(comport, BootloaderReadInterval(settings.baudRate));
    TideComm_InstallOnCommCallback(comport, TideCommOnCommCallback);
    TideComm_InstallReceiveCallback(comport, -1, -1, 0, -1, TideCommReceiveCallback);
    TideComm_InstallRequestHangupCallback(comport, PortHungUp);
    TideComm_BindDTRLedCtrl(comport, panelHandle, PANEL_DTRLED);
    TideComm_BindRTSLedCtrl(comport, panelHandle, PANEL_RTSLED);
    TideComm_BindCTSLedCtrl(comport, panelHandle, PANEL_CTSLED);
    TideComm_BindDSRLedCtrl(comport, panelHandle, PANEL_DSRLED);
    TideComm_BindDTRKeyCtrl(comport, panelHandle, PANEL_DTR);
    TideComm_BindRTSKeyCtrl(comport, panelHandle, PANEL_RTS);
    if (TideComm_OpenConfig(comport, settings.baudRate, settings.parity, settings.dataBits,
                            StopBitsCode(settings.stopBits), 512, 512, 1) != 0) {
        ReportOpenFailure();
        return false;
    }
    SetCtrlVal(panelHandle, PANEL_OPENCLOSE, 1);
    SetCtrlVal(panelHandle, PANEL_OPENLED, 1);
    ApplyOutputLinesFromKeys();
    return true;
}

// A refused or failed connect leaves the button offering to connect again.
void Connect() {
    GetCtrlVal(panelHandle, PANEL_COMPORT, &comport);
    const PortSettings settings = ReadPortSettings();
    if (const char* problem = BootloaderFormatProblem(settings)) {
        MessagePopup("警告！！！", problem);
        return;
    }
    if (TideComm_GetPortOpen(comport)) {
        UseReadInterval(BootloaderReadInterval(settings.baudRate));
    } else if (!OpenForBootloader(settings)) {
        return;
    }
    ShowConnectState(1);
    LogLine("开始启动ChipLoad程序~~~~~~~");
    SetCtrlAttribute(opsTabPanel, TABOPS_CHIP, ATTR_CTRL_INDEX, 0);
    SetStatus("开始ChipLoad进程");
    ClearIdentification();
    BootloaderModeSelect();
    ISP_mode = 0;
    fail_count = 0;
    // Dimmed before the timer may tick: a time-out during the reset pulse
    // must find the button dimmed, or it would stay dimmed for good.
    SetCtrlAttribute(panelHandle, PANEL_CONNECT, ATTR_DIMMED, 1);
    SetAsyncTimerAttribute(TimerID1, TIMER_ATTR_ENABLED, 1);
    Handshake();
    sub_handshake_mode = 0;
}

void Disconnect() {
    CloseReceiveLog();
    ShowConnectState(0);
    UseReadInterval(kTerminalReadInterval);
    if (TideComm_GetPortOpen(comport)) {
        TideComm_Close(comport);
    }
    LogLine("连接关断。。。");
    ISP_mode = 0;
    ISP_sys_ready = 0;
    SetCtrlVal(panelHandle, PANEL_OPENCLOSE, 0);
    SetCtrlVal(panelHandle, PANEL_OPENLED, 0);
    SetCtrlVal(panelHandle, PANEL_DTR, 0);
    SetCtrlVal(panelHandle, PANEL_RTS, 0);
    SetStatus("关断连接");
    ClearIdentification();
    EndConnectWait();
}

// The library found the device gone (unplugged, the server closed, the
// terminal hung up): say so and leave every control showing a closed port.
int PortHungUp(int port) {
    if (port != comport || !TideComm_GetPortOpen(port)) {
        return 0;
    }
    Disconnect();
    const std::string text = RTE_Translate("连接已断开：") + chipload::portmap::resolve(port) +
                             RTE_Translate("，请检查线路后重新连接！！！");
    SetStatus(text.c_str());
    LogLine(text.c_str());
    SetCtrlVal(opsTabPanel, TABOPS_PROGRESS, 0);
    MessagePopup("警告", text.c_str());
    return 0;
}

}  // namespace

void ResetConnectionState(void) {
    connectFlag = 0;
    comport = 0;
}

int TideCommOpenCloseCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                        int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    GetCtrlVal(panelHandle, PANEL_COMPORT, &comport);
    const PortSettings settings = ReadPortSettings();
    int wantOpen = 0;
    GetCtrlVal(panelHandle, PANEL_OPENCLOSE, &wantOpen);
    if (wantOpen == 0) {
        CloseReceiveLog();
        if (TideComm_GetPortOpen(comport)) {
            TideComm_Close(comport);
        }
        SetCtrlVal(panelHandle, PANEL_OPENLED, 0);
        return 0;
    }
    if (TideComm_GetPortOpen(comport)) {
        return 0;
    }
    TideComm_BindRXLedCtrl(comport, termTabPanel, TABTERM_RXLED);
    TideComm_BindTXLedCtrl(comport, termTabPanel, TABTERM_TXLED);
    TideComm_BindDTRLedCtrl(comport, panelHandle, PANEL_DTRLED);
    TideComm_BindRTSLedCtrl(comport, panelHandle, PANEL_RTSLED);
    TideComm_BindCDLedCtrl(comport, panelHandle, PANEL_CDLED);
    TideComm_BindCTSLedCtrl(comport, panelHandle, PANEL_CTSLED);
    TideComm_BindDSRLedCtrl(comport, panelHandle, PANEL_DSRLED);
    TideComm_BindRINGLedCtrl(comport, panelHandle, PANEL_RINGLED);
    TideComm_BindDTRKeyCtrl(comport, panelHandle, PANEL_DTR);
    TideComm_BindRTSKeyCtrl(comport, panelHandle, PANEL_RTS);
    TideComm_BindRXReceiveCount(comport, termTabPanel, TABTERM_RXCOUNT);
    TideComm_BindTXSendCount(comport, termTabPanel, TABTERM_TXCOUNT);
    TideComm_SetModemEventMask(comport, 312);
    TideComm_SetReadIntervalTimeout(comport, kTerminalReadInterval);
    TideComm_SetInBuffersize(comport, kTerminalRingBytes);
    TideComm_InstallOnCommCallback(comport, TideCommOnCommCallback);
    // Text is not framed at line ends (which the library's text input mode
    // does): the receive box breaks lines itself, and a frame per line would
    // cost the window a round trip per line, too many for a fast stream (a
    // 921600-baud stream of short lines lost bytes so). Whatever has arrived
    // is one run, in both display modes.
    TideComm_InstallReceiveCallback(comport, -1, -1, 0, -1, TideCommReceiveCallback);
    TideComm_InstallRequestHangupCallback(comport, PortHungUp);
    TideComm_InstallReceiveErrorCallback(comport, TerminalReceiveErrorCallback);
    if (TideComm_OpenConfig(comport, settings.baudRate, settings.parity, settings.dataBits,
                            StopBitsCode(settings.stopBits), 2048, 2048, kBinaryInput) == 0) {
        SetCtrlVal(panelHandle, PANEL_OPENLED, 1);
        ApplyOutputLinesFromKeys();
    } else {
        // The toggle shows the port's real state: closed.
        SetCtrlVal(panelHandle, PANEL_OPENCLOSE, 0);
        ReportOpenFailure();
    }
    return 0;
}

int DeveiceConnect(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (connectFlag == 0) {
        Connect();
    } else {
        Disconnect();
    }
    return 0;
}

int DTRCTRLCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
              int /*eventData2*/) {
    if (event == EVENT_COMMIT && TideComm_GetPortOpen(comport)) {
        int dtr = 0;
        GetCtrlVal(panelHandle, PANEL_DTR, &dtr);
        TideComm_SetDTREnable(comport, dtr);
    }
    return 0;
}

int RTSCTRLCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
              int /*eventData2*/) {
    if (event == EVENT_COMMIT && TideComm_GetPortOpen(comport)) {
        int rts = 0;
        GetCtrlVal(panelHandle, PANEL_RTS, &rts);
        TideComm_SetRTSEnable(comport, rts);
    }
    return 0;
}
