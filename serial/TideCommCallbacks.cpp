// The callback registry: install operations, invokers, the ready-made OnComm callback and the
// event queries.
#include "TideCommInternal.h"

static TideCommPortRecord* Slot(int index) {
    return TideComm_GetSystemStructPtr(index);
}

static void AddToMask(TideCommPortRecord* record, DWORD bits) {
    record->commEventMask.fetch_or(bits | EV_ERR);
}

int TideComm_InstallOnCommCallback(int index, TideCommEventCallback function) {
    TideCommPortRecord* record = Slot(index);
    if (record == nullptr) {
        return 1;
    }
    record->onCommCallback = function != nullptr ? function : TideComm_OnCommCallback;
    return 0;
}

int TideComm_InstallReceiveCallback(int index, int startChar, int endChar, int frameLength,
                                    int minimumInputLen, TideCommEventCallback function) {
    TideCommPortRecord* record = Slot(index);
    if (record == nullptr || function == nullptr) {
        return 1;
    }
    const bool raisesInputLen =
        minimumInputLen != 0 && static_cast<unsigned>(startChar) <= 255u &&
        static_cast<unsigned>(endChar) <= 255u &&
        static_cast<unsigned>(minimumInputLen) > static_cast<unsigned>(record->inputLen.load());
    if (raisesInputLen && !TideCommInputLenFits(record, minimumInputLen)) {
        return 1;
    }
    // Compared as unsigned so that every negative value means "none".
    record->startChar = static_cast<unsigned>(startChar) <= 255u ? startChar : -1;
    record->startIndex = -1;
    record->endChar = static_cast<unsigned>(endChar) <= 255u ? endChar : -1;
    record->frameLength = frameLength;
    if (raisesInputLen) {
        record->inputLen = minimumInputLen;
    }
    record->endIndex = -1;
    record->receiveCallback = function;
    return 0;
}

#define TIDECOMM_DEFINE_INSTALL(name, field)              \
    int name(int index, TideCommEventCallback function) { \
        TideCommPortRecord* record = Slot(index);         \
        if (record == nullptr) {                          \
            return 1;                                     \
        }                                                 \
        record->field = function;                         \
        return 0;                                         \
    }

TIDECOMM_DEFINE_INSTALL(TideComm_InstallReceiveErrorCallback, receiveErrorCallback)
TIDECOMM_DEFINE_INSTALL(TideComm_InstallRequestHangupCallback, requestHangupCallback)
TIDECOMM_DEFINE_INSTALL(TideComm_InstallSendEmptyCallback, sendEmptyCallback)
TIDECOMM_DEFINE_INSTALL(TideComm_InstallSendCallback, sendCallback)
TIDECOMM_DEFINE_INSTALL(TideComm_InstallSendErrorCallback, sendErrorCallback)
TIDECOMM_DEFINE_INSTALL(TideComm_InstallPortOpenErrorCallback, portOpenErrorCallback)

#define TIDECOMM_DEFINE_MASKED_INSTALL(name, type, field, bits) \
    int name(int index, type function) {                        \
        TideCommPortRecord* record = Slot(index);               \
        if (record == nullptr) {                                \
            return 1;                                           \
        }                                                       \
        AddToMask(record, bits);                                \
        record->field = function;                               \
        return 0;                                               \
    }

TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallReceiveBreakCallback, TideCommEventCallback,
                               receiveBreakCallback, EV_BREAK)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallCDStateChangeCallback, TideCommEventCallback,
                               cdStateChangeCallback, EV_RLSD)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallCTSStateChangeCallback, TideCommEventCallback,
                               ctsStateChangeCallback, EV_CTS)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallDSRStateChangeCallback, TideCommEventCallback,
                               dsrStateChangeCallback, EV_DSR)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallRingStateChangeCallback, TideCommEventCallback,
                               ringStateChangeCallback, EV_RING)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallCDStateChangeHookCallback, TideCommHookCallback,
                               cdStateChangeHook, EV_RLSD)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallCTSStateChangeHookCallback, TideCommHookCallback,
                               ctsStateChangeHook, EV_CTS)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallDSRStateChangeHookCallback, TideCommHookCallback,
                               dsrStateChangeHook, EV_DSR)
TIDECOMM_DEFINE_MASKED_INSTALL(TideComm_InstallRingStateChangeHookCallback, TideCommHookCallback,
                               ringStateChangeHook, EV_RING)

int TideComm_InstallReceiveCheckCallback(int index, TideCommReceiveCheckFunc function,
                                         int checkKind) {
    TideCommPortRecord* record = Slot(index);
    if (record == nullptr) {
        return 1;
    }
    record->receiveCheckCallback = function;
    record->receiveCheck = checkKind;
    return 0;
}

int TideComm_InstallModemStateChangeCallback(int index, TideCommEventCallback function,
                                             unsigned int mask) {
    TideCommPortRecord* record = Slot(index);
    if (record == nullptr) {
        return 1;
    }
    record->modemStateChangeCallback = function;
    record->commEventMask = mask | EV_ERR;
    return 0;
}

int TideComm_InstallModemStateChangeHookCallback(int index, TideCommHookCallback hook,
                                                 unsigned int mask) {
    TideCommPortRecord* record = Slot(index);
    if (record == nullptr) {
        return 1;
    }
    record->modemStateChangeHook = hook;
    record->commEventMask = mask | EV_ERR;
    return 0;
}

#define TIDECOMM_DEFINE_INVOKER(name, field)                      \
    int name(int port) {                                          \
        TideCommPortRecord* record = TideComm_GetStructPtr(port); \
        if (record == nullptr) {                                  \
            return 0;                                             \
        }                                                         \
        TideCommEventCallback callback = record->field;           \
        return callback != nullptr ? callback(port) : 0;          \
    }

TIDECOMM_DEFINE_INVOKER(TideComm_ReceiveCallback, receiveCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_ReceiveErrorCallback, receiveErrorCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_ReceiveBreakCallback, receiveBreakCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_ModemStateChangeCallback, modemStateChangeCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_CDStateChangeCallback, cdStateChangeCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_CTSStateChangeCallback, ctsStateChangeCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_DSRStateChangeCallback, dsrStateChangeCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_RingStateChangeCallback, ringStateChangeCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_RequestHangupCallback, requestHangupCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_SendEmptyCallback, sendEmptyCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_SendCallback, sendCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_SendErrorCallback, sendErrorCallback)
TIDECOMM_DEFINE_INVOKER(TideComm_PortOpenErrorCallback, portOpenErrorCallback)

int TideComm_ReceiveCheckCallback(int, const char*, int) {
    return 0;
}

int TideComm_OnCommCallback(int port) {
    switch (TideComm_GetCommEvent(port)) {
        case TIDECOMM_EVENT_SEND_EMPTY:
            return TideComm_SendEmptyCallback(port);
        case TIDECOMM_EVENT_SEND_ERROR:
            return TideComm_SendErrorCallback(port);
        case TIDECOMM_EVENT_RECEIVE:
            return TideComm_ReceiveCallback(port);
        case TIDECOMM_EVENT_RECEIVE_ERROR:
            return TideComm_ReceiveErrorCallback(port);
        case TIDECOMM_EVENT_OPEN_ERROR:
            return TideComm_PortOpenErrorCallback(port);
        case TIDECOMM_EVENT_MODEM:
            return TideComm_ModemStateChangeCallback(port);
        default:
            return 0;
    }
}

int TideComm_GetCommEvent(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->commEvent.load() : 0;
}

int TideComm_GetModemEvent(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || record->commHandle == nullptr) {
        return 0;
    }
    return record->modemEvent;
}

int TideComm_SetModemEventMask(int port, unsigned int mask) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record != nullptr && record->commHandle == nullptr) {
        record->commEventMask = mask | EV_ERR;
    }
    return 1;
}
