// The dispatch thread: every notification of a port passes here and becomes an application
// callback on the user-interface thread; it also drives the send side.
#include "TideCommInternal.h"

namespace {

// The OnComm event code of a message, or 0 when the message never goes to OnComm.
int OnCommEventCode(UINT message) {
    switch (message) {
        case TIDECOMM_MSG_RECEIVE:
            return TIDECOMM_EVENT_RECEIVE;
        case TIDECOMM_MSG_RECEIVE_ERROR:
            return TIDECOMM_EVENT_RECEIVE_ERROR;
        case TIDECOMM_MSG_SEND:
            return TIDECOMM_EVENT_SEND;
        case TIDECOMM_MSG_SEND_EMPTY:
            return TIDECOMM_EVENT_SEND_EMPTY;
        case TIDECOMM_MSG_SEND_ERROR:
            return TIDECOMM_EVENT_SEND_ERROR;
        case TIDECOMM_MSG_MODEM:
            return TIDECOMM_EVENT_MODEM;
        case TIDECOMM_MSG_CTS:
            return TIDECOMM_EVENT_CTS;
        case TIDECOMM_MSG_DSR:
            return TIDECOMM_EVENT_DSR;
        case TIDECOMM_MSG_RING:
            return TIDECOMM_EVENT_RING;
        case TIDECOMM_MSG_CD:
            return TIDECOMM_EVENT_CD;
        default:
            return 0;
    }
}

// The port's own line-change callback, else the system record's.
TideCommEventCallback ModemCallback(std::atomic<TideCommEventCallback> TideCommPortRecord::*field,
                                    TideCommPortRecord* record) {
    TideCommEventCallback own = record->*field;
    return own != nullptr ? own : (TideComm[0].*field).load();
}

}  // namespace

void TideCommDispatchMessage(TideCommPortRecord* record, const MSG* message) {
    const int port = record->port;
    TideCommEventCallback onComm = record->onCommCallback;
    const int eventCode = OnCommEventCode(message->message);
    if (onComm != nullptr && eventCode != 0) {
        TideCommPostOnCommCallback(onComm, port, eventCode);
        return;
    }
    switch (message->message) {
        case TIDECOMM_MSG_WRITE:
            // A chunk already in flight takes the new bytes when it is done; cutting another
            // now would overwrite the chunk the write thread is still writing.
            if (record->sendChunkLength.load() != 0) {
                break;
            }
            [[fallthrough]];
        case TIDECOMM_MSG_WRITE_DONE:
            if (message->lParam == reinterpret_cast<LPARAM>(record) &&
                TideCommHandleWriteData(record) == 0) {
                TideCommPostEventCallback(record->sendErrorCallback, port);
            }
            break;
        case TIDECOMM_MSG_RECEIVE:
            TideCommPostEventCallback(record->receiveCallback, port);
            break;
        case TIDECOMM_MSG_RESUME_FRAMING:
            if (record->frameCount.load(std::memory_order_acquire) == 0 &&
                record->receiveReadIndex.load(std::memory_order_acquire) !=
                    record->receiveWriteIndex.load(std::memory_order_acquire)) {
                TideCommHandleReadData(record);
            }
            break;
        case TIDECOMM_MSG_RECEIVE_ERROR:
            TideCommPostEventCallback(record->receiveErrorCallback, port);
            break;
        case TIDECOMM_MSG_SEND_EMPTY:
            TideCommPostEventCallback(record->sendEmptyCallback, port);
            break;
        case TIDECOMM_MSG_SEND_ERROR:
            TideCommPostEventCallback(record->sendErrorCallback, port);
            break;
        case TIDECOMM_MSG_HANGUP:
            TideCommPostEventCallback(record->requestHangupCallback, port);
            break;
        case TIDECOMM_MSG_MODEM:
            TideCommPostEventCallback(
                ModemCallback(&TideCommPortRecord::modemStateChangeCallback, record), port);
            break;
        case TIDECOMM_MSG_CD:
            TideCommPostEventCallback(
                ModemCallback(&TideCommPortRecord::cdStateChangeCallback, record), port);
            break;
        case TIDECOMM_MSG_CTS:
            TideCommPostEventCallback(
                ModemCallback(&TideCommPortRecord::ctsStateChangeCallback, record), port);
            break;
        case TIDECOMM_MSG_DSR:
            TideCommPostEventCallback(
                ModemCallback(&TideCommPortRecord::dsrStateChangeCallback, record), port);
            break;
        case TIDECOMM_MSG_RING:
            TideCommPostEventCallback(
                ModemCallback(&TideCommPortRecord::ringStateChangeCallback, record), port);
            break;
        default:  // TIDECOMM_MSG_SEND and anything foreign: nothing to do
            break;
    }
}

DWORD WINAPI TideCommThreadCallBack(LPVOID parameter) {
    TideCommPortRecord* record = static_cast<TideCommPortRecord*>(parameter);
    while (record->dispatchThreadRun.load()) {
        MSG* msg = &record->dispatchMessage;
        if (!PeekMessageA(msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!TideCommAwaitMessage(record)) {
                break;
            }
            continue;
        }
        if (WaitForSingleObject(record->stopEvent, 0) == WAIT_OBJECT_0) {
            continue;  // closing: the run flag ends the loop
        }
        if (msg->hwnd != nullptr) {
            TranslateMessage(msg);
            DispatchMessageA(msg);
            continue;
        }
        TideCommDispatchMessage(record, msg);
    }
    record->liveThreads.fetch_sub(1, std::memory_order_release);
    return 0;
}
