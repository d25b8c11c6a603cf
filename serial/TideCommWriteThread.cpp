// The write thread: a message loop that writes each chunk handed to it with overlapped I/O and
// tells the dispatch thread when a chunk is done and when it has nothing to do.
#include "TideCommInternal.h"

int HandleWriteData(TideCommPortRecord* record, const char* data, DWORD length) {
    record->writeWaitHandles[0] = record->stopEvent;
    record->writeWaitHandles[1] = record->writeOverlapped.hEvent;
    DWORD offset = 0;
    while (length > 0) {
        DWORD written = 0;
        if (!WriteFile(record->commHandle, data + offset, length, &written,
                       &record->writeOverlapped)) {
            const DWORD failure = GetLastError();
            if (failure == ERROR_INVALID_HANDLE) {
                return 0;
            }
            if (failure == 0 && TideCommUserDebugEvent(record) != 0) {
                // Within the allowance: nothing was written, and the event still tells of the
                // write before, so the call is made again instead of being waited for.
                continue;
            }
            if (failure != ERROR_IO_PENDING) {
                TideCommRequestHangupEvent(record);
                return 0;
            }
            record->writeWaitResult =
                WaitForMultipleObjects(2, record->writeWaitHandles, FALSE, INFINITE);
            if (record->writeWaitResult == WAIT_OBJECT_0) {
                return 0;
            }
            if (record->writeWaitResult != WAIT_OBJECT_0 + 1) {
                TideCommRequestHangupEvent(record);
                return 0;
            }
            if (!GetOverlappedResult(record->commHandle, &record->writeOverlapped, &written,
                                     TRUE)) {
                if (GetLastError() != ERROR_INVALID_HANDLE) {
                    TideCommRequestHangupEvent(record);
                }
                return 0;
            }
        }
        written = written < length ? written : length;
        length -= written;
        offset += written;
    }
    return 1;
}

DWORD WINAPI WriteThreadCallBack(LPVOID parameter) {
    TideCommPortRecord* record = static_cast<TideCommPortRecord*>(parameter);
    record->writeOverlapped = {};
    record->writeOverlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (record->writeOverlapped.hEvent == nullptr) {
        TideCommRequestHangupEvent(record);
    } else {
        record->notifyIdle = 1;
        while (record->writeThreadRun.load()) {
            MSG* msg = &record->writeMessage;
            if (!PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE)) {
                record->sendIdle = 1;
                if (record->notifyIdle) {
                    TideCommPostDispatch(record, TIDECOMM_MSG_SEND_EMPTY,
                                         static_cast<WPARAM>(record->port), 0);
                    record->notifyIdle = 0;
                }
                if (!TideCommAwaitMessage(record)) {
                    break;
                }
                continue;
            }
            if (WaitForSingleObject(record->stopEvent, 0) == WAIT_OBJECT_0) {
                break;
            }
            if (msg->hwnd != nullptr) {
                TranslateMessage(msg);
                DispatchMessageA(msg);
                continue;
            }
            if (msg->message != TIDECOMM_MSG_WRITE) {
                continue;
            }
            if (HandleWriteData(record, reinterpret_cast<const char*>(msg->lParam),
                                static_cast<DWORD>(msg->wParam))) {
                record->notifyIdle = 1;
            } else {
                TideCommRequestHangupEvent(record);
            }
            TideCommPostDispatch(record, TIDECOMM_MSG_WRITE_DONE, static_cast<WPARAM>(record->port),
                                 reinterpret_cast<LPARAM>(record));
        }
    }
    PurgeComm(record->commHandle, PURGE_TXABORT | PURGE_TXCLEAR);
    if (record->writeOverlapped.hEvent != nullptr) {
        CloseHandle(record->writeOverlapped.hEvent);
    }
    record->liveThreads.fetch_sub(1, std::memory_order_release);
    return 0;
}
