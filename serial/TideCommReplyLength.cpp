// Reads sized to a reply whose length the application knows, so the reply reaches it the moment
// its last byte is in.
#include <algorithm>

#include "TideCommInternal.h"

int TideComm_SetReplyLength(int port, int length) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || record->commHandle == nullptr || length < 0) {
        return 1;
    }
    std::lock_guard lock(record->replyLock);
    if (length == 0 && record->replyMissing == 0) {
        return 0;  // the pending read is the plain one already
    }
    record->replyMissing = length;
    record->replyGeneration++;
    record->readRearm = 1;
    // The read armed for the old length ends here and is asked again for the new one.
    PurgeComm(record->commHandle, PURGE_RXABORT);
    return 0;
}

int TideComm_GetIntervalEndedReads(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || record->commHandle == nullptr) {
        return -1;
    }
    return record->intervalEndedReads.load();
}

DWORD TideCommArmReadSize(TideCommPortRecord* record) {
    record->readRearm = 0;
    record->readGeneration = record->replyGeneration;
    const int missing = record->replyMissing;
    record->readAsked = static_cast<DWORD>(missing > 0 ? std::min(missing, record->frameCapacity)
                                                       : record->frameCapacity);
    return record->readAsked;
}

void TideCommNoteReadEnded(TideCommPortRecord* record) {
    const DWORD got = record->bytesRead;
    if (got > 0 && got < record->readAsked) {
        record->intervalEndedReads.fetch_add(1);
    }
    std::lock_guard lock(record->replyLock);
    if (record->readGeneration == record->replyGeneration && record->replyMissing > 0) {
        record->replyMissing -= std::min(static_cast<int>(got), record->replyMissing);
    }
}
