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

void ShowPortDevice() {
    int com = 0;
    GetCtrlVal(panelHandle, PANEL_COMPORT, &com);
    const std::string device = chipload::portmap::resolve(com);
    const std::string label = std::string(RTE_Translate("串口号 (COM)")) + " = " +
                              (device.empty() ? RTE_Translate("无设备") : device);
    SetCtrlAttribute(panelHandle, PANEL_COMPORT, ATTR_LABEL_TEXT, label.c_str());
}

int ComPortChanged(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ShowPortDevice();
    }
    return 0;
}

// On the user-interface thread, posted by the watch.
void AdaptersChanged(void* /*data*/) {
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
    ShowPortDevice();
    gWatch = std::make_unique<chipload::portmap::PortWatch>(
        chipload::portmap::PortWatch::defaultFolders(),
        [] { PostDeferredCall(AdaptersChanged, nullptr); });
}

void StopPortNames(void) {
    gWatch.reset();
}
