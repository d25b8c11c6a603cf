#include "callback_registry.h"

#include <initializer_list>

#include "connection.h"
#include "file_loading.h"
#include "rte_callbacks.h"
#include "startup.h"
#include "terminal.h"
#if __has_include("flash_ops.h")
#include "flash_ops.h"
#else
#include "rte.h"

namespace {

// Until the flash operations are built in, their buttons say so.
int OperationUnavailable(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                         int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        MessagePopup("告警", "此版本不含Flash操作！！！");
    }
    return 0;
}

}  // namespace
#endif

void RegisterChipLoadCallbacks(void) {
    RTE_RegisterCallback("MainQuitCb", MainQuitCb);
    RTE_RegisterCallback("TimerCB", TimerCB);
    RTE_RegisterCallback("TideCommOpenCloseCB", TideCommOpenCloseCB);
    RTE_RegisterCallback("DTRCTRLCB", DTRCTRLCB);
    RTE_RegisterCallback("RTSCTRLCB", RTSCTRLCB);
    RTE_RegisterCallback("DeveiceConnect", DeveiceConnect);
    RTE_RegisterCallback("ClearReceiveBoxCB", ClearReceiveBoxCB);
    RTE_RegisterCallback("ClearSendBoxCB", ClearSendBoxCB);
    RTE_RegisterCallback("ReceiveDisplayCB", ReceiveDisplayCB);
    RTE_RegisterCallback("ClearReceiveCountCB", ClearReceiveCountCB);
    RTE_RegisterCallback("ClearSendCountCB", ClearSendCountCB);
    RTE_RegisterCallback("SendDataCB", SendDataCB);
    RTE_RegisterCallback("SendDataCb", SendDataCb);
    RTE_RegisterCallback("TimerIntervalCb", TimerIntervalCb);
    RTE_RegisterCallback("comm_loadfile", comm_loadfile);
    RTE_RegisterCallback("loadFile", loadFile);
    RTE_RegisterCallback("saveFile", saveFile);
#if __has_include("flash_ops.h")
    RTE_RegisterCallback("chip_erase", chip_erase);
    RTE_RegisterCallback("page_erase", page_erase);
    RTE_RegisterCallback("FlashWrite", FlashWrite);
    RTE_RegisterCallback("flashExcute", flashExcute);
    RTE_RegisterCallback("chip_read", chip_read);
    RTE_RegisterCallback("page_read", page_read);
    RTE_RegisterCallback("check_blank", check_blank);
    RTE_RegisterCallback("flash_op_clear", flash_op_clear);
    RTE_RegisterCallback("set_page_addr", set_page_addr);
#else
    for (const char* name : {"chip_erase", "page_erase", "FlashWrite", "flashExcute", "chip_read",
                             "page_read", "check_blank", "flash_op_clear", "set_page_addr"}) {
        RTE_RegisterCallback(name, OperationUnavailable);
    }
#endif
}
