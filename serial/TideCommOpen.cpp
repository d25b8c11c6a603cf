// Opening and closing a port: the device, its stop event, buffers and three threads.
#include <cstdio>
#include <cstdlib>

#include "TideCommInternal.h"

#define TIDECOMM_DEVICE_QUEUE_SIZE 4096
#define TIDECOMM_THREAD_STOP_WAIT_MS 1000

namespace {

// Buffers of a port whose thread had to be abandoned at close: that thread may still touch
// them, so they are never freed. Only a hook or callback that never returns gets a port here.
struct AbandonedBuffers {
    char* buffers[5];
    AbandonedBuffers* next;
};
AbandonedBuffers* abandonedBuffers = nullptr;

void FreeBuffers(TideCommPortRecord* r) {
    std::free(r->readBuffer);
    std::free(r->frameBuffer);
    std::free(r->receiveRing);
    std::free(r->sendRing);
    std::free(r->sendChunk);
}

void KeepBuffers(TideCommPortRecord* r) {
    abandonedBuffers = new AbandonedBuffers{
        {r->readBuffer, r->frameBuffer, r->receiveRing, r->sendRing, r->sendChunk},
        abandonedBuffers};
}

void ResetRingState(TideCommPortRecord* r) {
    r->receiveReadIndex = 0;
    r->receiveWriteIndex = 0;
    r->sendReadIndex = 0;
    r->sendWriteIndex = 0;
    r->frameCount = 0;
    r->sendChunkLength = 0;
    r->startIndex = -1;
    r->endIndex = -1;
}

void ClearBufferFields(TideCommPortRecord* r) {
    r->readBuffer = nullptr;
    r->frameBuffer = nullptr;
    r->receiveRing = nullptr;
    r->sendRing = nullptr;
    r->sendChunk = nullptr;
    ResetRingState(r);
}

int AllocateBuffers(TideCommPortRecord* r) {
    r->readBuffer = static_cast<char*>(std::calloc(static_cast<size_t>(r->frameCapacity), 1));
    r->frameBuffer = static_cast<char*>(std::calloc(static_cast<size_t>(r->frameCapacity) + 1, 1));
    r->receiveRing = static_cast<char*>(std::calloc(static_cast<size_t>(r->inBufferSize), 1));
    r->sendRing = static_cast<char*>(std::calloc(static_cast<size_t>(r->outBufferSize), 1));
    r->sendChunk = static_cast<char*>(std::calloc(static_cast<size_t>(r->outputLen) + 1, 1));
    if (r->readBuffer && r->frameBuffer && r->receiveRing && r->sendRing && r->sendChunk) {
        ResetRingState(r);
        return 1;
    }
    FreeBuffers(r);
    ClearBufferFields(r);
    return 0;
}

// Waits for a port thread to end after its stop request; 1 when it ended, 0 when it had to be
// abandoned.
int StopThread(HANDLE* thread) {
    int ended = 1;
    if (WaitForSingleObject(*thread, TIDECOMM_THREAD_STOP_WAIT_MS) != WAIT_OBJECT_0) {
        TerminateThread(*thread, 0);
        ended = 0;
    }
    CloseHandle(*thread);
    *thread = nullptr;
    return ended;
}

HANDLE CreatePortThread(TideCommPortRecord* r, LPTHREAD_START_ROUTINE body, DWORD* id,
                        std::atomic<int>* runFlag) {
    *runFlag = 0;
    return CreateThread(nullptr, 0, body, r, CREATE_SUSPENDED, id);
}

// Starts the three threads; 0 (and none left running) when one cannot be created.
int StartThreads(TideCommPortRecord* r) {
    r->readThread = CreatePortThread(r, ReadThreadCallBack, &r->readThreadId, &r->readThreadRun);
    r->writeThread =
        CreatePortThread(r, WriteThreadCallBack, &r->writeThreadId, &r->writeThreadRun);
    r->dispatchThread =
        CreatePortThread(r, TideCommThreadCallBack, &r->dispatchThreadId, &r->dispatchThreadRun);
    if (r->readThread == nullptr || r->writeThread == nullptr || r->dispatchThread == nullptr) {
        // Never resumed, so ending them cannot race with anything they do.
        for (HANDLE* thread : {&r->readThread, &r->writeThread, &r->dispatchThread}) {
            if (*thread != nullptr) {
                TerminateThread(*thread, 0);
                CloseHandle(*thread);
                *thread = nullptr;
            }
        }
        return 0;
    }
    SetThreadPriority(r->writeThread, THREAD_PRIORITY_HIGHEST);
    SetThreadPriority(r->dispatchThread, THREAD_PRIORITY_HIGHEST);
    r->liveThreads.store(3, std::memory_order_relaxed);
    r->readThreadRun = 1;
    ResumeThread(r->readThread);
    r->writeThreadRun = 1;
    ResumeThread(r->writeThread);
    r->dispatchThreadRun = 1;
    ResumeThread(r->dispatchThread);
    return 1;
}

int Fail(TideCommPortRecord* r, int code) {
    TideCommErrorEvent(r, code);
    return 1;
}

}  // namespace

int TideComm_Open(int port) {
    TideCommPortRecord* r = TideComm_GetStructPtr(port);
    if (r == nullptr) {
        return 1;
    }
    r->error = 0;
    if (r->commHandle != nullptr) {
        return Fail(r, TIDECOMM_ERR_ALREADY_OPEN);
    }
    if (r->liveThreads.load(std::memory_order_acquire) != 0) {
        // A thread abandoned at the last close still runs on this record: a new session would
        // share its events, buffers and device fields with it.
        return Fail(r, TIDECOMM_ERR_STOP_EVENT);
    }
    char name[sizeof r->commName];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Fail(r, TIDECOMM_ERR_OPEN_DEVICE);
    }
    if (GetFileType(handle) != FILE_TYPE_CHAR) {
        CloseHandle(handle);
        return Fail(r, TIDECOMM_ERR_DEVICE_TYPE);
    }
    if (!SetupComm(handle, TIDECOMM_DEVICE_QUEUE_SIZE, TIDECOMM_DEVICE_QUEUE_SIZE)) {
        CloseHandle(handle);
        return Fail(r, TIDECOMM_ERR_SETUP_BUFFERS);
    }
    PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    r->sendIdle = 1;

    // The time-out and state operations work only on an open port: lend them the handle.
    r->commHandle = handle;
    if (TideComm_SetTimeout(port) != 0) {
        CloseHandle(handle);
        r->commHandle = nullptr;
        return Fail(r, TIDECOMM_ERR_TIMEOUTS);
    }
    if (TideComm_SetState(port) != 0) {
        CloseHandle(handle);
        r->commHandle = nullptr;
        return Fail(r, TIDECOMM_ERR_STATE);
    }
    r->commHandle = nullptr;

    HANDLE stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stopEvent == nullptr) {
        CloseHandle(handle);
        return Fail(r, TIDECOMM_ERR_STOP_EVENT);
    }

    r->frameCapacity = r->inputLen;
    r->droppedCount = 0;
    if (!AllocateBuffers(r)) {
        CloseHandle(stopEvent);
        CloseHandle(handle);
        return Fail(r, TIDECOMM_ERR_STOP_EVENT);
    }
    r->commHandle = handle;
    std::snprintf(r->commName, sizeof r->commName, "%s", name);
    r->stopEvent = stopEvent;
    r->error = 0;
    r->frameCount = 0;
    r->replyMissing = 0;
    r->readRearm = 0;
    r->intervalEndedReads = 0;
    TideCommShowBufferSizes(r);

    if (r->inputMode == 0 && r->endChar < 0) {
        r->endChar = 10;
    }
    TideCommResetMaxCounts(r);

    if (!StartThreads(r)) {
        r->commHandle = nullptr;
        r->stopEvent = nullptr;
        CloseHandle(stopEvent);
        CloseHandle(handle);
        FreeBuffers(r);
        ClearBufferFields(r);
        return Fail(r, TIDECOMM_ERR_STOP_EVENT);
    }
    TideCommApplyOpenCtrlLists(r);
    return 0;
}

int TideComm_PortOpen(int port, int flag) {
    return flag != 0 ? TideComm_Open(port) : TideComm_Close(port);
}

int TideComm_OpenConfig(int port, int baudRate, int parity, int byteSize, int stopBits,
                        int inputLen, int outputLen, int inputMode) {
    TideCommPortRecord* r = TideComm_GetStructPtr(port);
    if (r == nullptr) {
        return 1;
    }
    if (r->commHandle != nullptr) {
        // Reports -1 and leaves the open port as it is: its buffers and threads were set up
        // from the configuration it was opened with.
        return TideComm_Open(port);
    }
    if (TideCommInputLenFits(r, inputLen)) {
        r->inputLen = inputLen;
    }
    if (outputLen > 0) {
        r->outputLen = outputLen;
    }
    r->inputMode = inputMode;
    r->receiveCount = 0;
    r->sendCount = 0;
    r->dcb.BaudRate = static_cast<DWORD>(baudRate);
    r->dcb.fBinary = static_cast<DWORD>(inputMode) & 1u;
    r->dcb.Parity = static_cast<BYTE>(parity);
    r->dcb.ByteSize = static_cast<BYTE>(byteSize);
    r->dcb.fParity = parity != 0 ? 1 : 0;
    r->dcb.StopBits = static_cast<BYTE>(2 * stopBits);
    return TideComm_Open(port);
}

int TideComm_Close(int port) {
    TideCommPortRecord* r = TideComm_GetStructPtr(port);
    if (r == nullptr) {
        return 1;
    }
    if (r->commHandle == nullptr) {
        return Fail(r, TIDECOMM_ERR_NOT_OPEN);
    }
    TideCommResetIndicatorsAtClose(r);

    // Completes the read thread's pending event wait with an empty mask.
    SetCommMask(r->commHandle, 0);

    int allEnded = 1;
    SetEvent(r->stopEvent);
    r->dispatchThreadRun = 0;
    allEnded &= StopThread(&r->dispatchThread);
    // A suspended read thread would sleep through its stop request.
    DWORD suspendCount;
    do {
        suspendCount = ResumeThread(r->readThread);
    } while (suspendCount != 0 && suspendCount != 1 && suspendCount != static_cast<DWORD>(-1));
    SetEvent(r->stopEvent);
    r->readThreadRun = 0;
    allEnded &= StopThread(&r->readThread);
    SetEvent(r->stopEvent);
    PurgeComm(r->commHandle, PURGE_RXABORT | PURGE_RXCLEAR);
    r->sendIdle = 1;
    SetEvent(r->stopEvent);
    r->writeThreadRun = 0;
    allEnded &= StopThread(&r->writeThread);
    SetEvent(r->stopEvent);
    PurgeComm(r->commHandle, PURGE_TXABORT | PURGE_TXCLEAR);
    ResetEvent(r->stopEvent);

    CloseHandle(r->commHandle);
    r->commHandle = nullptr;
    CloseHandle(r->stopEvent);
    r->stopEvent = nullptr;

    r->dcb.fDtrControl = DTR_CONTROL_DISABLE;
    r->dcb.fRtsControl = RTS_CONTROL_DISABLE;

    std::free(r->errorText);
    r->errorText = nullptr;
    if (allEnded) {
        FreeBuffers(r);
        ClearBufferFields(r);
    } else {
        // The abandoned thread still reads these fields; the next open replaces them.
        KeepBuffers(r);
    }
    return 0;
}

void TideComm_Quit(void) {
    for (int port = 1; port <= TIDECOMM_MAX_PORT; ++port) {
        TideComm_Close(port);
    }
    for (TideCommPortRecord& r : TideComm) {
        r.error = 0;
        r.commHandle = nullptr;
    }
}

// 0 when the read thread was held (or released), 1 when the port is not open or the call failed.
int TideComm_Suspend(int port) {
    TideCommPortRecord* r = TideComm_GetStructPtr(port);
    if (r == nullptr || r->commHandle == nullptr) {
        return 1;
    }
    return SuspendThread(r->readThread) != static_cast<DWORD>(-1) ? 0 : 1;
}

int TideComm_Resume(int port) {
    TideCommPortRecord* r = TideComm_GetStructPtr(port);
    if (r == nullptr || r->commHandle == nullptr) {
        return 1;
    }
    return ResumeThread(r->readThread) != static_cast<DWORD>(-1) ? 0 : 1;
}
