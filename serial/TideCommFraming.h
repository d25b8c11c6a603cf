// Receive framing: cutting the receive ring into frames and the input settings that steer it.
//
// The read thread appends each read to the receive ring (HandleReadData, TideCommPort.h) and
// frames; the dispatch thread frames again when the application releases a frame. A frame is
// cut by, in this order of precedence: the receive threshold (1 also switches the characters
// off), a start...end pair, an end character alone, the input length, or the ring running
// empty. A finished frame is copied into frameBuffer (NUL-terminated), checked (installed
// checker, GPS or Rondo) and announced with TIDECOMM_MSG_RECEIVE.
//
// Choices made here:
// - While a frame waits to be released (frameCount non-zero) the framing does nothing: new bytes
//   stay in the ring and are framed after the release. Every frame is announced exactly once.
// - The input length reached with bytes still waiting (-903), and a frame that fills the whole
//   frame buffer without ending (-900, an input length or threshold above the buffer), are
//   reported and then delivered as a frame cut at that length. Pushing such bytes back would
//   meet the same cut on every later pass, and the port would never deliver again.
// - After an error that drops bytes (-901, -902, -904, a rejected GPS or Rondo frame with no
//   receive error callback) the framing goes on with the rest of the ring at once instead of
//   leaving it until the next read.
// - A GPS sentence that fails its checksum while no receive error callback is installed is
//   dropped, like a failed Rondo frame.
// - The Rondo check stops at the first check byte.
#pragma once

#include "TideCommPort.h"

// ---- Input settings (port 1..10) --------------------------------------------------------------

// 0 text, 1 binary; stored open or not. Both always return 1.
int TideComm_SetInputMode(int port, int mode);
int TideComm_GetInputMode(int port, int* out);
// Closed only, and 0 < n < inBufferSize / 2; else 1.
int TideComm_SetInputLen(int port, int n);
// -1 for an invalid port.
int TideComm_GetInputLen(int port);
// 0 none, 1 GPS sentence checksum, 2 Rondo frame check. Closed only; else 1.
int TideComm_SetReceiveCheck(int port, int kind);
int TideComm_GetReceiveCheck(int port, int* out);
// Closed only; else 1. GetRThreshold gives 0 for an invalid port.
int TideComm_SetRThreshold(int port, int n);
int TideComm_GetRThreshold(int port);
// Closed only. The ring wraps with size - 1 as its mask, so a size that is not a power of two
// (or below 2) is refused with 1.
int TideComm_SetInBuffersize(int port, int size);

// ---- Framing internals (whoever holds framingLock) --------------------------------------------

// frameCount := length and TIDECOMM_MSG_RECEIVE posted; 1 when posted. A failed post becomes
// a hang-up request and 0.
int ReceiveData(TideCommPortRecord* record, int length);
// NMEA 0183 checksum of the frame's first `length` bytes: "$...*hh" followed by one or two end
// characters. 1 accept, 0 reject.
int TideCommGPSReceiveCheck(TideCommPortRecord* record, int length);
// Descrambles a Rondo frame in place, ending its text with a 0 at the check byte. 1 accept,
// 0 reject.
int TideCommRondoReceiveCheck(TideCommPortRecord* record, int length);
