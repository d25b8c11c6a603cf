// The port record and the port table of the serial library.
//
// Every library operation takes a port number and works on TideComm[port]. Index 0 is never
// opened: it carries the shared modem-line callbacks that ports without their own fall back on.
//
// Threads: the caller's thread (normally the user-interface thread) and each open port's read,
// write and dispatch threads share a record without a lock. Fields more than one of them touch
// are std::atomic; ownership of the rest:
//   - configuration (lengths, sizes, dcb, time-outs, bindings) is written only while closed;
//     creating the port threads publishes it to them;
//   - receiveWriteIndex, readBuffer, bytesRead, eventMaskResult, lineErrors: read thread;
//   - receiveReadIndex, frameBuffer, startIndex/endIndex bookkeeping: whoever runs the framing;
//   - sendWriteIndex: the caller of TideComm_OutputBuffer; sendReadIndex and sendChunk: dispatch.
// Ring indices use release on the writer's store and acquire on the other side's load, so the
// bytes behind an index are visible before the index is. frameCount is published the same way:
// the framing fills frameBuffer and then stores frameCount (release); the application loads it
// (acquire) before touching the frame, and the release stores 0 before asking for more framing.
// frameCount is 0 (no frame), n (a frame of n bytes announced) or -n (that frame taken by the
// application); only a taken frame is released.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>

struct TideCommPortRecord;

// Event callbacks get the port number; the library ignores their result.
typedef int (*TideCommEventCallback)(int port);
// Hooks run on the port's read thread with the record itself.
typedef int (*TideCommHookCallback)(TideCommPortRecord* record);
// Frame checker: non-zero accepts the frame, 0 rejects it.
typedef int (*TideCommReceiveCheckFunc)(int port, const char* data, int length);

#define TIDECOMM_PORT_COUNT 11
#define TIDECOMM_MAX_PORT 10

#define TIDECOMM_DIMMED_CTRLS_MAX 40
#define TIDECOMM_VISIBLE_CTRLS_MAX 20
#define TIDECOMM_HIDDEN_CTRLS_MAX 20
#define TIDECOMM_PASSWORD_CTRLS_MAX 10

// Panel and control of a bound control; 0 means unbound.
struct TideCommCtrlRef {
    int panel;
    int control;
};

struct TideCommPasswordRef {
    int panel;
    int control;
    int data;
};

// Send (tx) or receive (rx) indicators; one panel for the group.
struct TideCommTrafficBinding {
    int panel;
    int led;
    int ledCount;
    int count;     // send count / receive count
    int maxCount;  // send max count / receive max count
    int size;      // send size / receive size
};

// DTR or RTS LED.
struct TideCommLineBinding {
    int panel;
    int led;
    int reserved;
};

// CD, CTS, DSR or RING LED and event count.
struct TideCommModemBinding {
    int panel;
    int led;
    int count;
};

struct TideCommPortRecord {
    // Identity and statistics
    int port;
    std::atomic<int> sendCount;
    std::atomic<int> receiveCount;
    std::atomic<int> sendMaxCount;
    std::atomic<int> receiveMaxCount;
    // Bytes read from the device that the full receive ring could not take, since the open.
    std::atomic<long> droppedCount;
    char commName[12];
    std::atomic<int> error;
    char* errorText;

    // Receive configuration and framing state. Atomic because the receive callback may be
    // installed again while the port is open and the framing reads these on a port thread.
    std::atomic<int> inputMode;
    std::atomic<int> receiveCheck;
    std::atomic<int> startIndex;
    std::atomic<int> startChar;
    std::atomic<int> endIndex;
    std::atomic<int> endChar;
    std::atomic<int> frameLength;

    // Callback registry, in this order; null when not installed.
    std::atomic<TideCommEventCallback> onCommCallback;
    std::atomic<TideCommEventCallback> receiveCallback;
    std::atomic<TideCommEventCallback> receiveErrorCallback;
    std::atomic<TideCommEventCallback> receiveBreakCallback;
    std::atomic<TideCommEventCallback> modemStateChangeCallback;
    std::atomic<TideCommEventCallback> cdStateChangeCallback;
    std::atomic<TideCommEventCallback> ctsStateChangeCallback;
    std::atomic<TideCommEventCallback> dsrStateChangeCallback;
    std::atomic<TideCommEventCallback> ringStateChangeCallback;
    std::atomic<TideCommHookCallback> modemStateChangeHook;
    std::atomic<TideCommHookCallback> cdStateChangeHook;
    std::atomic<TideCommHookCallback> ctsStateChangeHook;
    std::atomic<TideCommHookCallback> dsrStateChangeHook;
    std::atomic<TideCommHookCallback> ringStateChangeHook;
    std::atomic<TideCommEventCallback> requestHangupCallback;
    std::atomic<TideCommEventCallback> sendCallback;
    std::atomic<TideCommEventCallback> sendEmptyCallback;
    std::atomic<TideCommEventCallback> sendErrorCallback;
    std::atomic<TideCommEventCallback> portOpenErrorCallback;
    std::atomic<TideCommReceiveCheckFunc> receiveCheckCallback;

    // Lengths, thresholds, time-outs
    std::atomic<int> inputLen;  // raised by the receive-callback install at any time
    int outputLen;
    int sThreshold;
    std::atomic<int> rThreshold;
    DWORD readIntervalTimeout;
    DWORD readTotalTimeoutMultiplier;
    DWORD readTotalTimeoutConstant;
    DWORD writeTotalTimeoutMultiplier;
    DWORD writeTotalTimeoutConstant;

    // Thread control
    std::atomic<int> sendIdle;
    std::atomic<int> receivePending;
    DWORD readThreadId;
    std::atomic<int> readThreadRun;
    DWORD writeThreadId;
    std::atomic<int> writeThreadRun;
    DWORD dispatchThreadId;
    std::atomic<int> dispatchThreadRun;
    std::atomic<int> commEvent;
    std::atomic<int> modemEvent;
    std::atomic<DWORD> commEventMask;
    std::uint16_t ioBase;
    std::atomic<int> txLedCount;
    std::atomic<int> rxLedCount;
    std::atomic<int> cdCount;
    std::atomic<int> ringCount;
    std::atomic<int> ctsCount;
    std::atomic<int> dsrCount;

    // Device
    DCB dcb;
    HANDLE commHandle;
    HANDLE stopEvent;
    std::intptr_t mainWindow;  // the engine's main window, kept for the application
    HANDLE writeThread;
    HANDLE readThread;
    HANDLE dispatchThread;

    // Thread working state
    OVERLAPPED readOverlapped;
    OVERLAPPED writeOverlapped;
    OVERLAPPED eventOverlapped;
    HANDLE readWaitHandles[3];
    HANDLE writeWaitHandles[2];
    DWORD writeWaitResult;
    int notifyIdle;
    MSG writeMessage;
    MSG dispatchMessage;
    DWORD readWaitResult;
    DWORD eventMaskResult;
    DWORD lineErrors;
    std::atomic<int> zeroErrorCount;  // read and write threads both draw on the allowance
    std::atomic<int> liveThreads;     // port threads still running, abandoned ones included

    // Buffers
    char* readBuffer;
    DWORD bytesRead;
    char* frameBuffer;
    std::atomic<int> frameCount;
    int frameCapacity;
    char* receiveRing;
    int inBufferSize;
    int lastReadLength;
    std::atomic<int> receiveReadIndex;
    std::atomic<int> receiveWriteIndex;
    char* sendRing;
    std::atomic<int> sendReadIndex;
    std::atomic<int> sendWriteIndex;
    char* sendChunk;
    std::atomic<int> sendChunkLength;
    int outBufferSize;

    // Panel bindings
    TideCommTrafficBinding txBinding;
    TideCommTrafficBinding rxBinding;
    TideCommLineBinding dtrBinding;
    TideCommLineBinding rtsBinding;
    TideCommModemBinding cdBinding;
    TideCommModemBinding ctsBinding;
    TideCommModemBinding dsrBinding;
    TideCommModemBinding ringBinding;
    struct {
        int count;
        TideCommCtrlRef entries[TIDECOMM_DIMMED_CTRLS_MAX];
    } dimmedCtrls;
    struct {
        int count;
        TideCommCtrlRef entries[TIDECOMM_VISIBLE_CTRLS_MAX];
    } visibleCtrls;
    struct {
        int count;
        TideCommCtrlRef entries[TIDECOMM_HIDDEN_CTRLS_MAX];
    } hiddenCtrls;
    struct {
        int count;
        TideCommPasswordRef entries[TIDECOMM_PASSWORD_CTRLS_MAX];
    } passwordCtrls;

    // Reads sized to the awaited reply (TideComm_SetReplyLength). replyLock orders a new length,
    // and the abort of the read armed for the old one, against the read thread arming a read;
    // replyMissing and replyGeneration are kept under it. readAsked and readGeneration belong to
    // the read thread.
    std::mutex replyLock;
    int replyMissing;              // bytes of the awaited reply not read yet; 0: none awaited
    unsigned int replyGeneration;  // changes with every new length
    unsigned int readGeneration;   // replyGeneration when the pending read was armed
    DWORD readAsked;               // size of the pending read
    std::atomic<int> readRearm;    // the pending read is aborted to be asked again
    std::atomic<int> intervalEndedReads;

    // The receive framing runs on the read thread after each read and on the dispatch thread
    // when a frame is released; TideCommHandleReadData holds this lock for its whole run so the
    // two never overlap. HandleReadData also holds it while it appends a read to the ring, so
    // bytes the framing pushes back are never overwritten.
    std::mutex framingLock;
};

// The port table: index 0 is the system record, 1..10 are COM1..COM10.
extern TideCommPortRecord TideComm[TIDECOMM_PORT_COUNT];

// ---------------------------------------------------------------------------------------------
// Internal interface between the port threads (TideCommThreads.cpp, TideCommIO.cpp,
// TideCommEvents.cpp) and the receive framing and panel bindings (TideCommFraming.cpp,
// TideCommBindings.cpp).

// Receive framing, implemented in TideCommFraming.cpp.
// Read thread, after each completed read: appends readBuffer[0..bytesRead) to the receive ring
// and frames; 0 ends the read thread (a read that completed with no bytes, or a failed post).
// A ring without room for all the bytes keeps what it holds and drops the newest bytes: error
// := CE_RXOVER and the receive error callback is posted, so frames already in the ring stay
// intact instead of being overwritten.
int HandleReadData(TideCommPortRecord* record);
// Frames the receive ring; takes framingLock itself. Called by HandleReadData and by the
// dispatch thread on TIDECOMM_MSG_RESUME_FRAMING when the ring holds bytes and no frame waits.
int TideCommHandleReadData(TideCommPortRecord* record);

// Implemented here (TideCommEvents.cpp), for the framing and the bindings:
// Queues callback(port) to the user-interface thread; 1 when queued, 0 otherwise (null
// callback included).
int TideCommPostEventCallback(TideCommEventCallback callback, int port);
// The same for the OnComm callback: the event code travels with the call and becomes the port's
// commEvent on the user-interface thread just before the callback runs, so two events queued
// back to back are each seen by their own call instead of both reading the later one.
int TideCommPostOnCommCallback(TideCommEventCallback callback, int port, int eventCode);
// Posts a thread message to the port's dispatch thread; 1 when posted.
int TideCommPostDispatch(TideCommPortRecord* record, UINT message, WPARAM wParam, LPARAM lParam);
// Posts TIDECOMM_MSG_HANGUP; 1 when posted.
int TideCommRequestHangupEvent(TideCommPortRecord* record);
// Port thread with an empty queue: waits for a thread message or stopEvent. 1 when a message
// has come; 0 when the thread ends: stopEvent set, or a failed wait (hang-up requested).
int TideCommAwaitMessage(TideCommPortRecord* record);

// Panel indicator updates, implemented in TideCommBindings.cpp. Each writes only the controls
// whose binding exists and ignores the result of the control write.
// Opening, after the buffers exist: receive size := inBufferSize, send size := outBufferSize.
void TideCommShowBufferSizes(TideCommPortRecord* record);
// Opening, before the threads start: each max count whose control is bound := 0 and shown.
void TideCommResetMaxCounts(TideCommPortRecord* record);
// Opening, once the threads run: dimmed list dimmed, visible list hidden, hidden list shown.
void TideCommApplyOpenCtrlLists(TideCommPortRecord* record);
// Closing, before the threads stop: LEDs and LED counts to 0, the six counters to 0, then the
// control lists back to their closed state (password controls shown again).
void TideCommResetIndicatorsAtClose(TideCommPortRecord* record);
// Output queued: the send count control shows sendCount.
void TideCommShowSendCount(TideCommPortRecord* record);
// Output queued with `backlog` bytes (ring backlog + bytes being queued): raises sendMaxCount
// when the send max count control is bound.
void TideCommTrackSendBacklog(TideCommPortRecord* record, int backlog);
// A write started on an idle writer: TX LED 1 (RX LED 0), txLedCount + 1 shown.
void TideCommShowWriteStart(TideCommPortRecord* record);
// The application released a frame: RX LED 1 (TX LED 0), rxLedCount + 1 shown, receive count.
void TideCommShowInputTaken(TideCommPortRecord* record);
// A modem line changed (flag 1 CTS, 2 DSR, 4 RING, 8 CD; its counter already incremented):
// its LED from modemStatus (RING from ringCount & 1) and its count control.
void TideCommShowModemLine(TideCommPortRecord* record, int flag, DWORD modemStatus);
// DTR / RTS LED := value.
void TideCommShowDtrLed(TideCommPortRecord* record, int value);
void TideCommShowRtsLed(TideCommPortRecord* record, int value);
