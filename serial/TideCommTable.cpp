// The port table and its defaults.
#include <rte.h>

#include <cstdlib>
#include <cstring>

#include "TideComm.h"

TideCommPortRecord TideComm[TIDECOMM_PORT_COUNT];

TideCommPortRecord* TideComm_GetStructPtr(int port) {
    if (port < 1 || port > TIDECOMM_MAX_PORT) {
        return nullptr;
    }
    return &TideComm[port];
}

TideCommPortRecord* TideComm_GetSystemStructPtr(int index) {
    if (index < 0 || index > TIDECOMM_MAX_PORT) {
        return nullptr;
    }
    return &TideComm[index];
}

static void ResetRegistry(TideCommPortRecord* r) {
    r->onCommCallback = nullptr;
    r->receiveCallback = nullptr;
    r->receiveErrorCallback = nullptr;
    r->receiveBreakCallback = nullptr;
    r->modemStateChangeCallback = nullptr;
    r->cdStateChangeCallback = nullptr;
    r->ctsStateChangeCallback = nullptr;
    r->dsrStateChangeCallback = nullptr;
    r->ringStateChangeCallback = nullptr;
    r->modemStateChangeHook = nullptr;
    r->cdStateChangeHook = nullptr;
    r->ctsStateChangeHook = nullptr;
    r->dsrStateChangeHook = nullptr;
    r->ringStateChangeHook = nullptr;
    r->requestHangupCallback = nullptr;
    r->sendCallback = nullptr;
    r->sendEmptyCallback = nullptr;
    r->sendErrorCallback = nullptr;
    r->portOpenErrorCallback = nullptr;
    r->receiveCheckCallback = nullptr;
}

static void ResetDcb(DCB* dcb) {
    *dcb = DCB{};
    dcb->BaudRate = 9600;
    dcb->fBinary = 1;
    dcb->XonLim = 500;
    dcb->XoffLim = 500;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    dcb->XonChar = 0x11;
    dcb->XoffChar = 0x13;
}

static void ResetBindings(TideCommPortRecord* r) {
    r->txBinding = {};
    r->rxBinding = {};
    r->dtrBinding = {};
    r->rtsBinding = {};
    r->cdBinding = {};
    r->ctsBinding = {};
    r->dsrBinding = {};
    r->ringBinding = {};
    r->dimmedCtrls = {};
    r->visibleCtrls = {};
    r->hiddenCtrls = {};
    r->passwordCtrls = {};
}

static void ResetRecord(TideCommPortRecord* r, int index) {
    r->port = index;
    r->sendCount = 0;
    r->receiveCount = 0;
    r->sendMaxCount = 0;
    r->receiveMaxCount = 0;
    r->droppedCount = 0;
    std::memset(r->commName, 0, sizeof r->commName);
    r->error = 0;
    r->errorText = nullptr;

    r->inputMode = 0;
    r->receiveCheck = 0;
    r->startIndex = -1;
    r->startChar = -1;
    r->endIndex = -1;
    r->endChar = -1;
    r->frameLength = 0;

    ResetRegistry(r);

    r->inputLen = 64;
    r->outputLen = 64;
    r->sThreshold = 0;
    r->rThreshold = 0;
    r->readIntervalTimeout = 100;
    r->readTotalTimeoutMultiplier = 0;
    r->readTotalTimeoutConstant = 0;
    r->writeTotalTimeoutMultiplier = 0;
    r->writeTotalTimeoutConstant = 0;

    r->sendIdle = 1;
    r->receivePending = 0;
    r->readThreadId = static_cast<DWORD>(-1);
    r->readThreadRun = 0;
    r->writeThreadId = static_cast<DWORD>(-1);
    r->writeThreadRun = 0;
    r->dispatchThreadId = static_cast<DWORD>(-1);
    r->dispatchThreadRun = 0;
    r->commEvent = 0;
    r->modemEvent = 0;
    r->commEventMask = EV_ERR;
    r->ioBase = index == 2 ? 0x2F8 : 0x3F8;
    r->txLedCount = 0;
    r->rxLedCount = 0;
    r->cdCount = 0;
    r->ringCount = 0;
    r->ctsCount = 0;
    r->dsrCount = 0;

    ResetDcb(&r->dcb);
    r->commHandle = nullptr;
    r->stopEvent = nullptr;
    r->mainWindow = static_cast<std::intptr_t>(GetRTEWindowHandle());
    r->writeThread = nullptr;
    r->readThread = nullptr;
    r->dispatchThread = nullptr;

    r->readOverlapped = {};
    r->writeOverlapped = {};
    r->eventOverlapped = {};
    r->readWaitHandles[0] = r->readWaitHandles[1] = r->readWaitHandles[2] = nullptr;
    r->writeWaitHandles[0] = r->writeWaitHandles[1] = nullptr;
    r->writeWaitResult = 0;
    r->notifyIdle = 0;
    r->writeMessage = {};
    r->dispatchMessage = {};
    r->readWaitResult = 0;
    r->eventMaskResult = 0;
    r->lineErrors = 0;
    r->zeroErrorCount = 0;
    r->replyMissing = 0;
    r->replyGeneration = 0;
    r->readGeneration = 0;
    r->readAsked = 0;
    r->readRearm = 0;
    r->intervalEndedReads = 0;

    r->readBuffer = nullptr;
    r->bytesRead = 0;
    r->frameBuffer = nullptr;
    r->frameCount = 0;
    r->frameCapacity = 256;
    r->receiveRing = nullptr;
    r->inBufferSize = 4096;
    r->lastReadLength = 0;
    r->receiveReadIndex = 0;
    r->receiveWriteIndex = 0;
    r->sendRing = nullptr;
    r->sendReadIndex = 0;
    r->sendWriteIndex = 0;
    r->sendChunk = nullptr;
    r->sendChunkLength = 0;
    r->outBufferSize = 4096;

    ResetBindings(r);
}

void TideComm_Init(void) {
    for (int index = 0; index < TIDECOMM_PORT_COUNT; ++index) {
        TideCommPortRecord* r = &TideComm[index];
        // A text left from an earlier run of the table would otherwise leak.
        std::free(r->errorText);
        ResetRecord(r, index);
    }
}
