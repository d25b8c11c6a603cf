// Panel bindings: binding controls to a port and writing them as the port's state changes.
#include "TideCommBindings.h"

#include <rte.h>

#include "TideComm.h"

TideCommKeyBinding CtrlCommDTR;
TideCommKeyBinding CtrlCommRTS;
TideCommPasswordRef SystemCtrlPassword;
TideCommTabsPasswordBinding SystemTabsPassword;
TideCommCtrlRef SystemTabsHidden;
TideCommCtrlRef SystemTabsVisible;

namespace {

// The record of a closed port that may take a binding of (panel, control); null otherwise.
TideCommPortRecord* BindableRecord(int port, int panel, int control) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || record->commHandle != nullptr || panel == 0 || control == 0) {
        return nullptr;
    }
    return record;
}

template <typename Group>
int BindGroupControl(int port, int panel, int control, Group TideCommPortRecord::*group,
                     int Group::*field) {
    TideCommPortRecord* record = BindableRecord(port, panel, control);
    if (record == nullptr) {
        return 1;
    }
    (record->*group).panel = panel;
    (record->*group).*field = control;
    return 0;
}

template <typename List>
int AppendToList(int port, int panel, int control, List TideCommPortRecord::*list, int capacity,
                 int attribute, int value) {
    TideCommPortRecord* record = BindableRecord(port, panel, control);
    if (record == nullptr || (record->*list).count >= capacity) {
        return 1;
    }
    auto& entries = record->*list;
    entries.entries[entries.count] = {panel, control};
    ++entries.count;
    SetCtrlAttribute(panel, control, attribute, value);
    return 0;
}

template <typename List>
void SetListAttribute(const List& list, int attribute, int value) {
    for (int k = 0; k < list.count; ++k) {
        SetCtrlAttribute(list.entries[k].panel, list.entries[k].control, attribute, value);
    }
}

// Writes value to one control of a group when the group's panel and the control are bound.
template <typename Group>
void Show(const Group& group, int Group::*field, int value) {
    if (group.panel != 0 && group.*field != 0) {
        SetCtrlVal(group.panel, group.*field, value);
    }
}

template <typename Group>
bool IsBound(const Group& group, int Group::*field) {
    return group.panel != 0 && group.*field != 0;
}

int BindKey(TideCommKeyBinding& key, int port, int panel, int control, CtrlCallbackPtr callback) {
    if (BindableRecord(port, panel, control) == nullptr) {
        return 1;
    }
    key = {port, panel, control};
    SetCtrlAttribute(panel, control, ATTR_CALLBACK_FUNCTION_POINTER, callback);
    return 0;
}

// A commit on the bound key (an old key that was moved away no longer acts).
void KeyCommitted(const TideCommKeyBinding& key, int panel, int control, int event,
                  int (*setLine)(int port, int mode)) {
    if (event != EVENT_COMMIT || panel != key.panel || control != key.control ||
        TideComm_GetPortOpen(key.port) == 0) {
        return;
    }
    int value = 0;
    if (GetCtrlVal(panel, control, &value) == RTE_OK) {
        setLine(key.port, value);
    }
}

void HideOnLeftClick(int panel, int control, int event) {
    if (event == EVENT_LEFT_CLICK) {
        SetCtrlAttribute(panel, control, ATTR_VISIBLE, 0);
    }
}

}  // namespace

int TideComm_BindTXLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::txBinding,
                            &TideCommTrafficBinding::led);
}
int TideComm_BindRXLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rxBinding,
                            &TideCommTrafficBinding::led);
}
int TideComm_BindDTRLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::dtrBinding,
                            &TideCommLineBinding::led);
}
int TideComm_BindRTSLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rtsBinding,
                            &TideCommLineBinding::led);
}
int TideComm_BindCDLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::cdBinding,
                            &TideCommModemBinding::led);
}
int TideComm_BindCTSLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::ctsBinding,
                            &TideCommModemBinding::led);
}
int TideComm_BindDSRLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::dsrBinding,
                            &TideCommModemBinding::led);
}
int TideComm_BindRINGLedCtrl(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::ringBinding,
                            &TideCommModemBinding::led);
}
int TideComm_BindTXLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::txBinding,
                            &TideCommTrafficBinding::ledCount);
}
int TideComm_BindRXLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rxBinding,
                            &TideCommTrafficBinding::ledCount);
}
int TideComm_BindTXSendCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::txBinding,
                            &TideCommTrafficBinding::count);
}
int TideComm_BindRXReceiveCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rxBinding,
                            &TideCommTrafficBinding::count);
}
int TideComm_BindTXSendMaxCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::txBinding,
                            &TideCommTrafficBinding::maxCount);
}
int TideComm_BindRXReceiveMaxCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rxBinding,
                            &TideCommTrafficBinding::maxCount);
}
int TideComm_BindTXSendSize(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::txBinding,
                            &TideCommTrafficBinding::size);
}
int TideComm_BindRXReceiveSize(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::rxBinding,
                            &TideCommTrafficBinding::size);
}
int TideComm_BindCDLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::cdBinding,
                            &TideCommModemBinding::count);
}
int TideComm_BindCTSLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::ctsBinding,
                            &TideCommModemBinding::count);
}
int TideComm_BindDSRLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::dsrBinding,
                            &TideCommModemBinding::count);
}
int TideComm_BindRINGLedCount(int port, int panel, int control) {
    return BindGroupControl(port, panel, control, &TideCommPortRecord::ringBinding,
                            &TideCommModemBinding::count);
}

int TideComm_BindCtrlDimmed(int port, int panel, int control) {
    return AppendToList(port, panel, control, &TideCommPortRecord::dimmedCtrls,
                        TIDECOMM_DIMMED_CTRLS_MAX, ATTR_DIMMED, 1);
}
int TideComm_BindCtrlVisible(int port, int panel, int control) {
    return AppendToList(port, panel, control, &TideCommPortRecord::visibleCtrls,
                        TIDECOMM_VISIBLE_CTRLS_MAX, ATTR_VISIBLE, 1);
}
int TideComm_BindCtrlHidden(int port, int panel, int control) {
    return AppendToList(port, panel, control, &TideCommPortRecord::hiddenCtrls,
                        TIDECOMM_HIDDEN_CTRLS_MAX, ATTR_VISIBLE, 0);
}

int TideComm_BindTabsHidden(int port, int panel, int tabControl) {
    if (BindableRecord(port, panel, tabControl) == nullptr) {
        return 1;
    }
    SystemTabsHidden = {panel, tabControl};
    SetCtrlAttribute(panel, tabControl, ATTR_TABS_VISIBLE, 0);
    return 0;
}

int TideComm_BindTabsVisible(int port, int panel, int tabControl) {
    if (BindableRecord(port, panel, tabControl) == nullptr) {
        return 1;
    }
    SystemTabsVisible = {panel, tabControl};
    SetCtrlAttribute(panel, tabControl, ATTR_TABS_VISIBLE, 1);
    return 0;
}

int TideComm_BindDTRKeyCtrl(int port, int panel, int control) {
    return BindKey(CtrlCommDTR, port, panel, control, TideComm_DTRCallBackFunction);
}

int TideComm_BindRTSKeyCtrl(int port, int panel, int control) {
    return BindKey(CtrlCommRTS, port, panel, control, TideComm_RTSCallBackFunction);
}

int TideComm_BindCtrlPassword(int port, int panel, int control, int data) {
    TideCommPortRecord* record = BindableRecord(port, panel, control);
    if (record == nullptr || record->passwordCtrls.count >= TIDECOMM_PASSWORD_CTRLS_MAX) {
        return 1;
    }
    record->passwordCtrls.entries[record->passwordCtrls.count] = {panel, control, data};
    ++record->passwordCtrls.count;
    SetCtrlAttribute(panel, control, ATTR_CALLBACK_FUNCTION_POINTER, TideComm_CtrlPassword);
    return 0;
}

int TideComm_BindSystemCtrlPassword(int panel, int control, int data) {
    if (panel != 0 && control != 0) {
        SystemCtrlPassword = {panel, control, data};
        SetCtrlAttribute(panel, control, ATTR_CALLBACK_FUNCTION_POINTER,
                         TideComm_SystemCtrlPassword);
    }
    return 1;
}

int TideComm_BindSystemTabsPassword(int tabPanel, int tabControl, int keyPanel, int keyControl,
                                    int data) {
    if (keyPanel != 0 && keyControl != 0) {
        SystemTabsPassword = {tabPanel, tabControl, keyPanel, keyControl, data};
        SetCtrlAttribute(tabPanel, tabControl, ATTR_TABS_VISIBLE, 0);
        SetCtrlAttribute(keyPanel, keyControl, ATTR_CALLBACK_FUNCTION_POINTER,
                         TideComm_SystemTabsPassword);
    }
    return 1;
}

int TideComm_DTRCallBackFunction(int panel, int control, int event, void*, int, int) {
    KeyCommitted(CtrlCommDTR, panel, control, event, TideComm_SetDTREnable);
    return 0;
}

int TideComm_RTSCallBackFunction(int panel, int control, int event, void*, int, int) {
    KeyCommitted(CtrlCommRTS, panel, control, event, TideComm_SetRTSEnable);
    return 0;
}

int TideComm_CtrlPassword(int panel, int control, int event, void*, int, int) {
    HideOnLeftClick(panel, control, event);
    return 0;
}

int TideComm_SystemCtrlPassword(int panel, int control, int event, void*, int, int) {
    HideOnLeftClick(panel, control, event);
    return 0;
}

int TideComm_TabsPassword(int panel, int control, int event, void*, int, int) {
    HideOnLeftClick(panel, control, event);
    return 0;
}

int TideComm_SystemTabsPassword(int, int, int event, void*, int, int) {
    if (event == EVENT_LEFT_CLICK && SystemTabsPassword.keyPanel != 0 &&
        SystemTabsPassword.keyControl != 0) {
        SetCtrlAttribute(SystemTabsPassword.tabPanel, SystemTabsPassword.tabControl,
                         ATTR_TABS_VISIBLE, 1);
    }
    return 0;
}

// ---- Indicators written by the port's own operations and threads ------------------------------

void TideCommShowBufferSizes(TideCommPortRecord* record) {
    Show(record->rxBinding, &TideCommTrafficBinding::size, record->inBufferSize);
    Show(record->txBinding, &TideCommTrafficBinding::size, record->outBufferSize);
}

void TideCommResetMaxCounts(TideCommPortRecord* record) {
    if (IsBound(record->rxBinding, &TideCommTrafficBinding::maxCount)) {
        record->receiveMaxCount = 0;
        Show(record->rxBinding, &TideCommTrafficBinding::maxCount, 0);
    }
    if (IsBound(record->txBinding, &TideCommTrafficBinding::maxCount)) {
        record->sendMaxCount = 0;
        Show(record->txBinding, &TideCommTrafficBinding::maxCount, 0);
    }
}

void TideCommApplyOpenCtrlLists(TideCommPortRecord* record) {
    SetListAttribute(record->dimmedCtrls, ATTR_DIMMED, 1);
    SetListAttribute(record->visibleCtrls, ATTR_VISIBLE, 0);
    SetListAttribute(record->hiddenCtrls, ATTR_VISIBLE, 1);
}

void TideCommResetIndicatorsAtClose(TideCommPortRecord* record) {
    Show(record->txBinding, &TideCommTrafficBinding::led, 0);
    Show(record->rxBinding, &TideCommTrafficBinding::led, 0);
    Show(record->dtrBinding, &TideCommLineBinding::led, 0);
    Show(record->rtsBinding, &TideCommLineBinding::led, 0);
    Show(record->txBinding, &TideCommTrafficBinding::ledCount, 0);
    Show(record->rxBinding, &TideCommTrafficBinding::ledCount, 0);
    // The modem count controls keep their last values until the next event.
    record->txLedCount = 0;
    record->rxLedCount = 0;
    record->cdCount = 0;
    record->ringCount = 0;
    record->ctsCount = 0;
    record->dsrCount = 0;
    SetListAttribute(record->dimmedCtrls, ATTR_DIMMED, 0);
    SetListAttribute(record->visibleCtrls, ATTR_VISIBLE, 1);
    SetListAttribute(record->hiddenCtrls, ATTR_VISIBLE, 0);
    SetListAttribute(record->passwordCtrls, ATTR_VISIBLE, 1);
}

void TideCommShowSendCount(TideCommPortRecord* record) {
    Show(record->txBinding, &TideCommTrafficBinding::count, record->sendCount.load());
}

void TideCommTrackSendBacklog(TideCommPortRecord* record, int backlog) {
    if (IsBound(record->txBinding, &TideCommTrafficBinding::maxCount) &&
        backlog > record->sendMaxCount) {
        record->sendMaxCount = backlog;
        Show(record->txBinding, &TideCommTrafficBinding::maxCount, backlog);
    }
}

void TideCommTrackReceiveFill(TideCommPortRecord* record, int fill) {
    if (IsBound(record->rxBinding, &TideCommTrafficBinding::maxCount) &&
        fill > record->receiveMaxCount) {
        record->receiveMaxCount = fill;
        Show(record->rxBinding, &TideCommTrafficBinding::maxCount, fill);
    }
}

void TideCommShowWriteStart(TideCommPortRecord* record) {
    if (IsBound(record->txBinding, &TideCommTrafficBinding::led)) {
        Show(record->txBinding, &TideCommTrafficBinding::led, 1);
        Show(record->rxBinding, &TideCommTrafficBinding::led, 0);
    }
    if (IsBound(record->txBinding, &TideCommTrafficBinding::ledCount)) {
        Show(record->txBinding, &TideCommTrafficBinding::ledCount, ++record->txLedCount);
    }
}

void TideCommShowInputTaken(TideCommPortRecord* record) {
    if (IsBound(record->rxBinding, &TideCommTrafficBinding::led)) {
        Show(record->rxBinding, &TideCommTrafficBinding::led, 1);
        Show(record->txBinding, &TideCommTrafficBinding::led, 0);
    }
    if (IsBound(record->rxBinding, &TideCommTrafficBinding::ledCount)) {
        Show(record->rxBinding, &TideCommTrafficBinding::ledCount, ++record->rxLedCount);
    }
    Show(record->rxBinding, &TideCommTrafficBinding::count, record->receiveCount.load());
}

void TideCommShowModemLine(TideCommPortRecord* record, int flag, DWORD modemStatus) {
    const auto lineOn = [modemStatus](DWORD bit) { return static_cast<int>(modemStatus & bit); };
    switch (flag) {
        case 8:
            Show(record->cdBinding, &TideCommModemBinding::led, lineOn(MS_RLSD_ON));
            Show(record->cdBinding, &TideCommModemBinding::count, record->cdCount.load());
            break;
        case 4:
            Show(record->ringBinding, &TideCommModemBinding::led, record->ringCount.load() & 1);
            Show(record->ringBinding, &TideCommModemBinding::count, record->ringCount.load());
            break;
        case 1:
            Show(record->ctsBinding, &TideCommModemBinding::led, lineOn(MS_CTS_ON));
            Show(record->ctsBinding, &TideCommModemBinding::count, record->ctsCount.load());
            break;
        case 2:
            Show(record->dsrBinding, &TideCommModemBinding::led, lineOn(MS_DSR_ON));
            Show(record->dsrBinding, &TideCommModemBinding::count, record->dsrCount.load());
            break;
        default:
            break;
    }
}

void TideCommShowDtrLed(TideCommPortRecord* record, int value) {
    Show(record->dtrBinding, &TideCommLineBinding::led, value);
}

void TideCommShowRtsLed(TideCommPortRecord* record, int value) {
    Show(record->rtsBinding, &TideCommLineBinding::led, value);
}
