// The read thread: one overlapped comm-event wait and one overlapped read kept pending on the
// device; received bytes go to the receive framing, line errors and modem-line changes become
// thread messages to the dispatch thread.
#include "TideCommInternal.h"

namespace {

// A device call that failed with error 0 and is within the allowance: it started nothing, so
// it is made again rather than waited for (its event still tells of the call before it).
bool RetryAfterZeroError(TideCommPortRecord* record) {
    return GetLastError() == 0 && TideCommUserDebugEvent(record) != 0;
}

// The common failure classes of a device call made by a port thread: 1 to go on as pending,
// 0 to stop the step (posting a hang-up request where the failure is a real one).
int PendingOrStop(TideCommPortRecord* record) {
    switch (GetLastError()) {
        case ERROR_IO_PENDING:
            return 1;
        case 0:  // the allowance is spent
        case ERROR_INVALID_HANDLE:
            return 0;
        default:
            TideCommRequestHangupEvent(record);
            return 0;
    }
}

// A failed completion query: report it unless the device was closed under us.
int CompletionFailed(TideCommPortRecord* record) {
    if (GetLastError() != ERROR_INVALID_HANDLE) {
        TideCommRequestHangupEvent(record);
    }
    return 0;
}

bool StopRequested(TideCommPortRecord* record) {
    return WaitForSingleObject(record->stopEvent, 0) == WAIT_OBJECT_0;
}

struct ModemLine {
    DWORD eventBit;
    int flag;
    std::atomic<int> TideCommPortRecord::*counter;
};

// In the order the lines are examined.
constexpr ModemLine kModemLines[] = {
    {EV_RLSD, 8, &TideCommPortRecord::cdCount},
    {EV_RING, 4, &TideCommPortRecord::ringCount},
    {EV_CTS, 1, &TideCommPortRecord::ctsCount},
    {EV_DSR, 2, &TideCommPortRecord::dsrCount},
};

}  // namespace

int SetupCommEvent(TideCommPortRecord* record) {
    while (!StopRequested(record)) {
        if (WaitCommEvent(record->commHandle, &record->eventMaskResult, &record->eventOverlapped)) {
            if (HandleCommEvent(record, nullptr, 0) == 0) {
                return 0;
            }
            continue;
        }
        if (RetryAfterZeroError(record)) {
            continue;
        }
        return PendingOrStop(record);
    }
    return 0;
}

int SetupReadEvent(TideCommPortRecord* record) {
    while (!StopRequested(record)) {
        BOOL done;
        {
            std::lock_guard lock(record->replyLock);
            done = ReadFile(record->commHandle, record->readBuffer, TideCommArmReadSize(record),
                            &record->bytesRead, &record->readOverlapped);
        }
        if (done) {
            TideCommNoteReadEnded(record);
            if (HandleReadData(record) == 0) {
                return 0;
            }
            continue;
        }
        if (RetryAfterZeroError(record)) {
            continue;
        }
        return PendingOrStop(record);
    }
    return 0;
}

int HandleReadEvent(TideCommPortRecord* record) {
    if (GetOverlappedResult(record->commHandle, &record->readOverlapped, &record->bytesRead,
                            FALSE)) {
        TideCommNoteReadEnded(record);
        return HandleReadData(record);
    }
    // Aborted to be asked again for a new reply length: what it got so far is kept.
    if (GetLastError() == ERROR_OPERATION_ABORTED && record->readRearm.exchange(0) != 0) {
        return record->bytesRead > 0 ? HandleReadData(record) : 1;
    }
    return CompletionFailed(record);
}

int HandleCommEvent(TideCommPortRecord* record, OVERLAPPED* overlapped, int fromWait) {
    int result = 0;
    if (fromWait) {
        DWORD transferred = 0;
        if (!GetOverlappedResult(record->commHandle, overlapped, &transferred, FALSE)) {
            return CompletionFailed(record);
        }
    }
    const DWORD mask = record->eventMaskResult;
    if (mask & EV_ERR) {
        if (!ClearCommError(record->commHandle, &record->lineErrors, nullptr)) {
            return CompletionFailed(record);
        }
        record->error = static_cast<int>(record->lineErrors);
        if (TideCommReceiveErrorEvent(record) == 0) {
            return 0;
        }
        result = 1;
    }
    if (mask & EV_BREAK) {
        record->error = 0;
        if (TideCommReceiveErrorEvent(record) == 0) {
            return 0;
        }
        result = 1;
    }
    DWORD status = 0;
    GetCommModemStatus(record->commHandle, &status);
    int flags = 0;
    for (const ModemLine& line : kModemLines) {
        if (mask & line.eventBit) {
            flags |= line.flag;
            (record->*line.counter).fetch_add(1);
            TideCommShowModemLine(record, line.flag, status);
        }
    }
    if (flags != 0) {
        record->modemEvent = flags;
        TideCommHookCallback hook;
        UINT message;
        switch (flags) {
            case 1:
                hook = record->ctsStateChangeHook;
                message = TIDECOMM_MSG_CTS;
                break;
            case 2:
                hook = record->dsrStateChangeHook;
                message = TIDECOMM_MSG_DSR;
                break;
            case 4:
                hook = record->ringStateChangeHook;
                message = TIDECOMM_MSG_RING;
                break;
            case 8:
                hook = record->cdStateChangeHook;
                message = TIDECOMM_MSG_CD;
                break;
            default:
                hook = record->modemStateChangeHook;
                message = TIDECOMM_MSG_MODEM;
                break;
        }
        if (hook != nullptr) {
            hook(record);
        }
        if (ModemStateChange(record, message) == 0) {
            return 0;
        }
        result = 1;
    }
    if (!(mask & EV_ERR) && flags == 0) {
        // An empty mask (close cleared the mask under a pending wait) or a lone break.
        TideCommRequestHangupEvent(record);
    }
    return result;
}

DWORD WINAPI ReadThreadCallBack(LPVOID parameter) {
    TideCommPortRecord* record = static_cast<TideCommPortRecord*>(parameter);
    record->readOverlapped = {};
    record->eventOverlapped = {};
    record->readOverlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    record->eventOverlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    record->readWaitHandles[0] = record->stopEvent;
    record->readWaitHandles[1] = record->eventOverlapped.hEvent;
    record->readWaitHandles[2] = record->readOverlapped.hEvent;

    if (record->readOverlapped.hEvent == nullptr || record->eventOverlapped.hEvent == nullptr ||
        !SetCommMask(record->commHandle, record->commEventMask.load())) {
        TideCommRequestHangupEvent(record);
    } else if (SetupCommEvent(record) != 0 && SetupReadEvent(record) != 0) {
        while (record->readThreadRun.load()) {
            record->readWaitResult =
                WaitForMultipleObjects(3, record->readWaitHandles, FALSE, INFINITE);
            if (record->readWaitResult == WAIT_OBJECT_0) {
                record->readThreadRun = 0;
                break;
            }
            if (record->readWaitResult == WAIT_OBJECT_0 + 1) {
                if (HandleCommEvent(record, &record->eventOverlapped, 1) == 0 ||
                    SetupCommEvent(record) == 0) {
                    break;
                }
            } else if (record->readWaitResult == WAIT_OBJECT_0 + 2) {
                if (HandleReadEvent(record) == 0 || SetupReadEvent(record) == 0) {
                    break;
                }
            } else {
                TideCommRequestHangupEvent(record);
                break;
            }
        }
    }

    PurgeComm(record->commHandle, PURGE_RXABORT | PURGE_RXCLEAR);
    if (record->readOverlapped.hEvent != nullptr) {
        CloseHandle(record->readOverlapped.hEvent);
    }
    if (record->eventOverlapped.hEvent != nullptr) {
        CloseHandle(record->eventOverlapped.hEvent);
    }
    record->liveThreads.fetch_sub(1, std::memory_order_release);
    return 0;
}
