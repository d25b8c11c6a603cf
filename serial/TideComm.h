// TideComm: the serial-port library. COM1..COM10 are driven by number; every operation takes
// the port number first. Status operations return 0 for success and 1 for failure and keep the
// cause in the port record (TideComm_GetError, TideComm_GetErrorString).
#pragma once

#include <cstdint>

#include "TideCommPort.h"

// Thread messages between a port's threads (WM_USER + n).
#define TIDECOMM_MSG_WRITE (WM_USER + 1)
#define TIDECOMM_MSG_RECEIVE (WM_USER + 2)
#define TIDECOMM_MSG_RESUME_FRAMING (WM_USER + 3)
#define TIDECOMM_MSG_RECEIVE_ERROR (WM_USER + 4)
#define TIDECOMM_MSG_SEND (WM_USER + 5)
#define TIDECOMM_MSG_SEND_EMPTY (WM_USER + 6)
#define TIDECOMM_MSG_WRITE_DONE (WM_USER + 7)
#define TIDECOMM_MSG_SEND_ERROR (WM_USER + 8)
#define TIDECOMM_MSG_HANGUP (WM_USER + 9)
#define TIDECOMM_MSG_MODEM (WM_USER + 10)
#define TIDECOMM_MSG_CTS (WM_USER + 11)
#define TIDECOMM_MSG_DSR (WM_USER + 12)
#define TIDECOMM_MSG_RING (WM_USER + 13)
#define TIDECOMM_MSG_CD (WM_USER + 14)

// OnComm event codes (TideComm_GetCommEvent).
#define TIDECOMM_EVENT_CTS 1
#define TIDECOMM_EVENT_DSR 2
#define TIDECOMM_EVENT_RING 4
#define TIDECOMM_EVENT_CD 8
#define TIDECOMM_EVENT_SEND 16
#define TIDECOMM_EVENT_SEND_EMPTY 32
#define TIDECOMM_EVENT_SEND_ERROR 64
#define TIDECOMM_EVENT_RECEIVE 128
#define TIDECOMM_EVENT_RECEIVE_ERROR 256
#define TIDECOMM_EVENT_OPEN_ERROR 512
#define TIDECOMM_EVENT_MODEM 32768

// Error codes kept in the record's `error` (texts: TideComm_GetErrorString).
#define TIDECOMM_ERR_ALREADY_OPEN (-1)
#define TIDECOMM_ERR_OPEN_DEVICE (-2)
#define TIDECOMM_ERR_DEVICE_TYPE (-3)
#define TIDECOMM_ERR_SETUP_BUFFERS (-4)
#define TIDECOMM_ERR_TIMEOUTS (-5)
#define TIDECOMM_ERR_STATE (-6)
#define TIDECOMM_ERR_STOP_EVENT (-7)
#define TIDECOMM_ERR_NOT_OPEN (-8)
#define TIDECOMM_ERR_INPUT_LENGTH (-900)
#define TIDECOMM_ERR_START_CHAR (-901)
#define TIDECOMM_ERR_END_CHAR (-902)
#define TIDECOMM_ERR_FIXED_LENGTH (-903)
#define TIDECOMM_ERR_USER_CHECK (-904)
#define TIDECOMM_ERR_RONDO (-998)
#define TIDECOMM_ERR_GPS (-999)

// ---- Port table -------------------------------------------------------------------------------

// Record of port 1..10, else null.
TideCommPortRecord* TideComm_GetStructPtr(int port);
// Record of index 0..10 (0: the system record), else null.
TideCommPortRecord* TideComm_GetSystemStructPtr(int index);
// Sets all eleven records to their defaults. Call once at start-up, before anything else, and
// never while a port is open.
void TideComm_Init(void);

// ---- Opening, closing, configuring ------------------------------------------------------------

// Opens "\\.\COMn" with the record's configuration and starts its three threads. A buffer or
// thread that cannot be created undoes the open and reports -7 (the event/resource code).
int TideComm_Open(int port);
int TideComm_PortOpen(int port, int flag);
// On an open port: reports -1 and changes nothing. An input length the receive ring cannot
// frame (inBufferSize - 1 or more) is kept out as one below 1 is: the previous length stays.
int TideComm_OpenConfig(int port, int baudRate, int parity, int byteSize, int stopBits,
                        int inputLen, int outputLen, int inputMode);
// Never blocks longer than about three seconds: a port thread that has not ended 1000 ms after
// its stop request is abandoned; the buffers it may still touch are never freed and stay in
// the record until the next open replaces them.
int TideComm_Close(int port);
void TideComm_Quit(void);
// Fills the record's dcb from a mode text ("baud=9600 parity=N data=8 stop=1"); closed only.
int TideComm_Settings(int port, const char* modeText);
// Hold / release the read thread: 0 when the thread call succeeded, 1 on a closed or invalid
// port or a failed call. Close releases a held read thread before stopping it.
int TideComm_Suspend(int port);
int TideComm_Resume(int port);

// Copies the record's dcb to the open device; 1 when closed or refused (no error report).
int TideComm_SetState(int port);
// The dcb setters store the value, then apply it; when the apply fails (closed port included)
// they report -8 and return 1, and the value takes effect at the next open.
int TideComm_SetBaudRate(int port, int value);
int TideComm_SetParityCheck(int port, int value);
int TideComm_SetParity(int port, int value);
int TideComm_SetStopBits(int port, int value);
// Data bits 5..8 as they are written (5 stores 5). Values outside 5..8 are refused with 1 and
// change nothing.
int TideComm_SetByteSize(int port, int value);
int TideComm_SetXonChar(int port, int value);
int TideComm_SetXoffChar(int port, int value);
int TideComm_SetXonLimit(int port, int value);
int TideComm_SetXoffLimit(int port, int value);
int TideComm_SetReplacedChar(int port, int value);
int TideComm_SetIgnoreNullChar(int port, int value);
int TideComm_SetTxContinueOnXoff(int port, int value);
int TideComm_SetDsrSensitivity(int port, int value);
int TideComm_SetOutx_XonXoffFlow(int port, int value);
int TideComm_SetInx_XonXoffFlow(int port, int value);
int TideComm_SetReplaceWhenParityError(int port, int value);
int TideComm_SetOutx_CtsFlow(int port, int value);
int TideComm_SetOutx_DsrFlow(int port, int value);

// Time-out fields, stored for the next open; always 1.
int TideComm_SetReadIntervalTimeout(int port, unsigned int value);
int TideComm_SetReadTotalTimeoutMultiplier(int port, unsigned int value);
int TideComm_SetReadTotalTimeoutConstant(int port, unsigned int value);
int TideComm_SetWriteTotalTimeoutMultiplier(int port, unsigned int value);
int TideComm_SetWriteTotalTimeoutConstant(int port, unsigned int value);
// Applies the read interval time-out to the open device. The total time-outs are applied as 0:
// the read thread relies on reads that end only on a full buffer or an interval gap, and a
// total time-out would end an idle read with no bytes, which stops the read thread.
int TideComm_SetTimeout(int port);
int TideComm_GetTimeout(int port, COMMTIMEOUTS* out);

int TideComm_SetDTREnable(int port, int mode);
int TideComm_SetRTSEnable(int port, int mode);
int TideComm_GetDTREnable(int port);
int TideComm_GetRTSEnable(int port);
int TideComm_SetRTSDTREnable(int port, int rtsMode, int dtrMode);
int TideComm_SetEscape(int port, int function);

// Writes "\\.\COMn" (buf holds at least 12 bytes); its length, or 0 with buf empty.
int TideComm_GetCommName(int port, char* buf);
HANDLE TideComm_GetCommFileHandle(int port);
// The handle as an integer wide enough to hold it.
int TideComm_GetHandle(int port, std::intptr_t* out);
int TideComm_GetPortOpen(int port);
// "COM1".."COM10" → 1..10; anything else 0.
int TideComm_GetCommPort(const char* text);

// ---- Output and input -------------------------------------------------------------------------

// Queues bytes for the dispatch and write threads; 0 when queued and the dispatch thread was
// woken, 1 otherwise (closed port, a chunk already in flight, ...). Queuing while bytes wait
// posts a send error first. The ring keeps one byte free: bytes beyond its room are dropped
// with a send error, and what was already queued is still sent.
int TideComm_OutputBuffer(int port, const char* data, int length);
int TideComm_Output(int port, const char* text);
// Closed only; a length below 1 is refused (chunks of 0 bytes would never send anything).
int TideComm_SetOutputLen(int port, int n);
// Closed only; the size must be a power of two of at least 2, else 1.
int TideComm_SetOutBuffersize(int port, int n);
int TideComm_SetSThreshold(int port, int n);
int TideComm_GetSThreshold(int port);
int TideComm_GetSendCount(int port);
int TideComm_SetSendCount(int port, int n);
// Borrows the waiting frame: valid until released, never written through.
int TideComm_InputBuffer(int port, char** data, int* length);
// Copies the waiting frame (string-copy semantics) and releases it.
int TideComm_Input(int port, char* destination, int* length);
int TideComm_GetInBufferCount(int port, int* out);
// Releases the frame taken with TideComm_InputBuffer and lets the framing go on. A frame that
// was announced but not yet taken stays: a release that follows a take finding nothing (the
// receive callback releases frame or not) must not discard a frame that came in between.
int TideComm_ClearInBufferCount(int port);
int TideComm_GetReceiveCount(int port);
int TideComm_SetReceiveCount(int port, int n);
// The next reply on the open port is `length` bytes: its read ends as soon as they are in,
// instead of one read interval after the last of them (a reply that stops short still ends by
// the interval). 0 awaits no length: reads end by the interval, as a terminal wants. 0 when
// set; 1 for a closed port or a negative length.
int TideComm_SetReplyLength(int port, int length);
// Reads of the open port since it opened that ended by the read interval rather than by their
// length (-1 for a port that is not open).
int TideComm_GetIntervalEndedReads(int port);
// Bytes dropped since the open because the receive ring was full (each drop also posts the
// receive error callback with error CE_RXOVER); 0 for an invalid port.
long TideComm_GetDroppedCount(int port);

// ---- Event callbacks --------------------------------------------------------------------------
// Install operations take the table index (0..10; 0 is the system record) and return 0, or 1
// for an index above 10. Callbacks are queued to the user-interface thread with the port number;
// a call queued before its port closes still runs after the close.

int TideComm_InstallOnCommCallback(int index, TideCommEventCallback function);
// 1, changing nothing, when the minimum input length would raise the input length to one the
// receive ring cannot frame (inBufferSize - 1 or more).
int TideComm_InstallReceiveCallback(int index, int startChar, int endChar, int frameLength,
                                    int minimumInputLen, TideCommEventCallback function);
int TideComm_InstallReceiveErrorCallback(int index, TideCommEventCallback function);
int TideComm_InstallReceiveBreakCallback(int index, TideCommEventCallback function);
int TideComm_InstallReceiveCheckCallback(int index, TideCommReceiveCheckFunc function,
                                         int checkKind);
int TideComm_InstallModemStateChangeCallback(int index, TideCommEventCallback function,
                                             unsigned int mask);
int TideComm_InstallCDStateChangeCallback(int index, TideCommEventCallback function);
int TideComm_InstallCTSStateChangeCallback(int index, TideCommEventCallback function);
int TideComm_InstallDSRStateChangeCallback(int index, TideCommEventCallback function);
int TideComm_InstallRingStateChangeCallback(int index, TideCommEventCallback function);
int TideComm_InstallModemStateChangeHookCallback(int index, TideCommHookCallback hook,
                                                 unsigned int mask);
int TideComm_InstallCDStateChangeHookCallback(int index, TideCommHookCallback hook);
int TideComm_InstallCTSStateChangeHookCallback(int index, TideCommHookCallback hook);
int TideComm_InstallDSRStateChangeHookCallback(int index, TideCommHookCallback hook);
int TideComm_InstallRingStateChangeHookCallback(int index, TideCommHookCallback hook);
int TideComm_InstallRequestHangupCallback(int index, TideCommEventCallback function);
int TideComm_InstallSendEmptyCallback(int index, TideCommEventCallback function);
int TideComm_InstallSendCallback(int index, TideCommEventCallback function);
int TideComm_InstallSendErrorCallback(int index, TideCommEventCallback function);
int TideComm_InstallPortOpenErrorCallback(int index, TideCommEventCallback function);

// Invokers: call the installed callback now, on the calling thread; 0 when there is none.
int TideComm_ReceiveCallback(int port);
int TideComm_ReceiveErrorCallback(int port);
int TideComm_ReceiveBreakCallback(int port);
int TideComm_ModemStateChangeCallback(int port);
int TideComm_CDStateChangeCallback(int port);
int TideComm_CTSStateChangeCallback(int port);
int TideComm_DSRStateChangeCallback(int port);
int TideComm_RingStateChangeCallback(int port);
int TideComm_RequestHangupCallback(int port);
int TideComm_SendEmptyCallback(int port);
int TideComm_SendCallback(int port);
int TideComm_SendErrorCallback(int port);
int TideComm_PortOpenErrorCallback(int port);
// Placeholder checker: rejects every frame.
int TideComm_ReceiveCheckCallback(int port, const char* data, int length);
// Ready-made OnComm callback: forwards the stored event code to its invoker.
int TideComm_OnCommCallback(int port);

int TideComm_GetCommEvent(int port);
int TideComm_GetModemEvent(int port);
int TideComm_SetModemEventMask(int port, unsigned int mask);

// ---- Errors -----------------------------------------------------------------------------------

int TideComm_GetError(int port);
// *text := the Chinese text of the current error, valid until the next call for the port or
// its close; the caller must not free it.
// 1 (text untouched) for an invalid port or when the text buffer cannot be allocated.
int TideComm_GetErrorString(int port, char** text);
// Stores code and notifies the application (OnComm event 512, or the open-error callback).
void TideCommErrorEvent(TideCommPortRecord* record, int code);

// ---- The rest of the library ------------------------------------------------------------------

#if __has_include("TideCommFraming.h")
#include "TideCommFraming.h"
#endif
#if __has_include("TideCommBindings.h")
#include "TideCommBindings.h"
#endif
#if __has_include("TideCommConvert.h")
#include "TideCommConvert.h"
#endif
#if __has_include("TideCommStopwatch.h")
#include "TideCommStopwatch.h"
#endif
