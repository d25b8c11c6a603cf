// Panel bindings: LEDs, counters, buffer sizes and high-water marks that follow a port, control
// groups dimmed, shown or hidden while it is open, the DTR and RTS toggle keys and the
// click-to-hide (password) controls; also the direct modem-line queries.
//
// A control is a run-time engine panel handle and control ID; 0 means unbound. Bindings are
// made while the port is closed and stay until TideComm_Init; the port's threads only read them.
#pragma once

#include "TideCommPort.h"

// ---- Binding controls to a port ---------------------------------------------------------------
// Each returns 0 when bound, and 1 (changing nothing) for a port outside 1..10, an open port, or
// a panel or control of 0. Binding any control of a group sets that group's panel.

int TideComm_BindTXLedCtrl(int port, int panel, int control);
int TideComm_BindRXLedCtrl(int port, int panel, int control);
int TideComm_BindDTRLedCtrl(int port, int panel, int control);
int TideComm_BindRTSLedCtrl(int port, int panel, int control);
int TideComm_BindCDLedCtrl(int port, int panel, int control);
int TideComm_BindCTSLedCtrl(int port, int panel, int control);
int TideComm_BindDSRLedCtrl(int port, int panel, int control);
int TideComm_BindRINGLedCtrl(int port, int panel, int control);
int TideComm_BindTXLedCount(int port, int panel, int control);
int TideComm_BindRXLedCount(int port, int panel, int control);
int TideComm_BindTXSendCount(int port, int panel, int control);
int TideComm_BindRXReceiveCount(int port, int panel, int control);
int TideComm_BindTXSendMaxCount(int port, int panel, int control);
int TideComm_BindRXReceiveMaxCount(int port, int panel, int control);
int TideComm_BindTXSendSize(int port, int panel, int control);
int TideComm_BindRXReceiveSize(int port, int panel, int control);
int TideComm_BindCDLedCount(int port, int panel, int control);
int TideComm_BindCTSLedCount(int port, int panel, int control);
int TideComm_BindDSRLedCount(int port, int panel, int control);
int TideComm_BindRINGLedCount(int port, int panel, int control);

// Control lists: dimmed while the port is open (and from binding to the first close), shown
// only while closed, shown only while open. Each list is refused (1) when full (40, 20, 20).
int TideComm_BindCtrlDimmed(int port, int panel, int control);
int TideComm_BindCtrlVisible(int port, int panel, int control);
int TideComm_BindCtrlHidden(int port, int panel, int control);
// Hide or show the tabs of a tab control at once (process-wide record).
int TideComm_BindTabsHidden(int port, int panel, int tabControl);
int TideComm_BindTabsVisible(int port, int panel, int tabControl);
// The program's one DTR (RTS) toggle key: its commit sets the line of `port` while that port is
// open. The key's own callback is replaced; binding again moves the key.
int TideComm_BindDTRKeyCtrl(int port, int panel, int control);
int TideComm_BindRTSKeyCtrl(int port, int panel, int control);
// A control that hides itself on a left click and reappears when the port closes (10 per port).
int TideComm_BindCtrlPassword(int port, int panel, int control, int data);

// ---- Process-wide password controls (no port); both return 1 in every case --------------------

// A control that hides itself on a left click; nothing shows it again.
int TideComm_BindSystemCtrlPassword(int panel, int control, int data);
// Hides the tabs of a tab control until the key control is left-clicked.
int TideComm_BindSystemTabsPassword(int tabPanel, int tabControl, int keyPanel, int keyControl,
                                    int data);

// Control callbacks installed by the bindings (engine control-callback form; each returns 0).
int TideComm_DTRCallBackFunction(int panel, int control, int event, void* callbackData,
                                 int eventData1, int eventData2);
int TideComm_RTSCallBackFunction(int panel, int control, int event, void* callbackData,
                                 int eventData1, int eventData2);
int TideComm_CtrlPassword(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int TideComm_SystemCtrlPassword(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
// Installed by no operation; a panel file may name it for a self-hiding control.
int TideComm_TabsPassword(int panel, int control, int event, void* callbackData, int eventData1,
                          int eventData2);
int TideComm_SystemTabsPassword(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);

// Process-wide binding records.
struct TideCommKeyBinding {
    int port;
    int panel;
    int control;
};
struct TideCommTabsPasswordBinding {
    int tabPanel;
    int tabControl;
    int keyPanel;
    int keyControl;
    int data;
};
extern TideCommKeyBinding CtrlCommDTR;
extern TideCommKeyBinding CtrlCommRTS;
extern TideCommPasswordRef SystemCtrlPassword;
extern TideCommTabsPasswordBinding SystemTabsPassword;
extern TideCommCtrlRef SystemTabsHidden;
extern TideCommCtrlRef SystemTabsVisible;

// ---- Modem-line queries -----------------------------------------------------------------------

// 0 after reading the open port's device block / modem status; 1 otherwise.
int TideComm_GetState(int port, DCB* dcb);
int TideComm_GetModemState(int port, DWORD* status);
// 1 when the port is open and the line is on; 0 otherwise (also when unreadable).
int TideComm_GetCTSHolding(int port);
int TideComm_GetDSRHolding(int port);
int TideComm_GetRINGHolding(int port);
int TideComm_GetCDHolding(int port);
// 1 when the UART modem status register (ioBase + 6, read with RTE_inp) has any bit of mask
// set. Linux gives a user program no I/O port space: RTE_inp reads 0, so these report no line.
int TideComm_GetModemPin(int port, int mask);
int TideComm_GetCTSPin(int port);
int TideComm_GetDSRPin(int port);
int TideComm_GetRINGPin(int port);
int TideComm_GetCDPin(int port);
// TideComm_SetEscape with SETBREAK (on non-zero) or CLRBREAK; its result.
int TideComm_SetBREAKEnable(int port, int on);

// ---- Indicator update from the receive path (read thread) ------------------------------------

// The ring holds `fill` unframed bytes: raises receiveMaxCount when the receive max count
// control is bound.
void TideCommTrackReceiveFill(TideCommPortRecord* record, int fill);
