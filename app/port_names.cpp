#include "port_names.h"

#include <memory>
#include <string>

#include "ChipLoad.h"
#include "comm/port_defaults.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "port_map.h"
#include "port_watch.h"
#include "rte.h"
#include "rte_language.h"

namespace {

std::unique_ptr<chipload::portmap::PortWatch> gWatch;

// The adapter list shows the COM number's own entry when it has one.
void ShowPortDevice() {
    int com = 0;
    GetCtrlVal(panelHandle, PANEL_COMPORT, &com);
    const std::string device = chipload::portmap::resolve(com);
    SetCtrlVal(panelHandle, PANEL_COMDEVICE, device.empty() ? "无设备" : device.c_str());
    SetCtrlVal(panelHandle, PANEL_ADAPTER, com);
}

// One item per COM number that stands for a device, its value the number.
void ListAdapters() {
    ClearListCtrl(panelHandle, PANEL_ADAPTER);
    for (int com = chipload::portmap::kFirstCom; com <= chipload::portmap::kLastCom; ++com) {
        const std::string device = chipload::portmap::resolve(com);
        if (!device.empty()) {
            const std::string item = "COM" + std::to_string(com) + "  " + device;
            InsertListItem(panelHandle, PANEL_ADAPTER, -1, item.c_str(), com);
        }
    }
    int count = 0;
    GetNumListItems(panelHandle, PANEL_ADAPTER, &count);
    if (count == 0) {
        InsertListItem(panelHandle, PANEL_ADAPTER, -1, "无设备", 0);
    }
}

int ComPortChanged(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ShowPortDevice();
    }
    return 0;
}

// Choosing an adapter is choosing its COM number.
int AdapterChosen(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                  int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int com = 0;
    GetCtrlVal(panelHandle, PANEL_ADAPTER, &com);
    if (com != 0) {
        SetCtrlVal(panelHandle, PANEL_COMPORT, com);
        ShowPortDevice();
    }
    return 0;
}

// On the user-interface thread, posted by the watch.
void AdaptersChanged(void* /*data*/) {
    ListAdapters();
    ShowPortDevice();
    std::string adapters;
    for (const auto& device : chipload::portmap::defaultDevices("/dev", "/sys/class/tty")) {
        adapters += (adapters.empty() ? "" : ", ") + device;
    }
    LogLine((RTE_Translate("串口设备：") + (adapters.empty() ? RTE_Translate("无设备") : adapters))
                .c_str());
}

}  // namespace

void StartPortNames(void) {
    SetCtrlAttribute(panelHandle, PANEL_COMPORT, ATTR_CALLBACK_FUNCTION_POINTER, ComPortChanged);
    SetCtrlAttribute(panelHandle, PANEL_ADAPTER, ATTR_CALLBACK_FUNCTION_POINTER, AdapterChosen);
    ListAdapters();
    ShowPortDevice();
    gWatch = std::make_unique<chipload::portmap::PortWatch>(
        chipload::portmap::PortWatch::defaultFolders(),
        [] { PostDeferredCall(AdaptersChanged, nullptr); });
}

void StopPortNames(void) {
    gWatch.reset();
}
