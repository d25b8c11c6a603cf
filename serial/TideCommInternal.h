// Internal operations of the serial library shared between its source files.
#pragma once

#include "TideComm.h"

// Whether the receive ring can frame an input length of n: a frame is cut only once a byte
// after it has come, so n + 1 bytes must fit in the ring (which holds inBufferSize - 1).
bool TideCommInputLenFits(const TideCommPortRecord* record, int n);

// Thread bodies; the argument is the port record. Each one's last act is to take itself off
// the record's liveThreads.
DWORD WINAPI ReadThreadCallBack(LPVOID parameter);
DWORD WINAPI WriteThreadCallBack(LPVOID parameter);
DWORD WINAPI TideCommThreadCallBack(LPVOID parameter);

// Posting operations of the port threads; 1 when the message was posted.
int TideCommReceiveErrorEvent(TideCommPortRecord* record);
int ModemStateChange(TideCommPortRecord* record, UINT message);
// The allowance for I/O calls that fail with error 0: 1 (treat as pending) for the first ten
// per port, 0 afterwards.
int TideCommUserDebugEvent(TideCommPortRecord* record);

// Read thread steps.
int SetupCommEvent(TideCommPortRecord* record);
int SetupReadEvent(TideCommPortRecord* record);
int HandleReadEvent(TideCommPortRecord* record);
int HandleCommEvent(TideCommPortRecord* record, OVERLAPPED* overlapped, int fromWait);

// Reads sized to the awaited reply (TideCommReplyLength.cpp), read thread only.
// With replyLock held: the size of the read about to be armed, recorded as the pending read's.
DWORD TideCommArmReadSize(TideCommPortRecord* record);
// A read completed with bytesRead bytes: counts an end by the interval and takes the bytes off
// the awaited reply when the read was armed for it. Takes replyLock.
void TideCommNoteReadEnded(TideCommPortRecord* record);

// Writes one chunk with overlapped I/O; 1 when all of it was written.
int HandleWriteData(TideCommPortRecord* record, const char* data, DWORD length);

// Send side: queue bytes (caller's thread) and cut the next chunk (dispatch thread).
int HandleWriteCommData(TideCommPortRecord* record, const char* data, int length);
int TideCommHandleWriteData(TideCommPortRecord* record);

// Turns one thread message into the application callback (dispatch thread).
void TideCommDispatchMessage(TideCommPortRecord* record, const MSG* message);
