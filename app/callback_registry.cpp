#include "callback_registry.h"

#include "connection.h"
#include "file_loading.h"
#include "flash_ops.h"
#include "protection.h"
#include "receive_log.h"
#include "rte_callbacks.h"
#include "startup.h"
#include "terminal.h"

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
    RTE_RegisterCallback("TxtSendModeCB", TxtSendModeCB);
    RTE_RegisterCallback("ReceiveLogCB", ReceiveLogCB);
    RTE_RegisterCallback("loadFile", loadFile);
    RTE_RegisterCallback("saveFile", saveFile);
    RTE_RegisterCallback("chip_erase", chip_erase);
    RTE_RegisterCallback("page_erase", page_erase);
    RTE_RegisterCallback("FlashWrite", FlashWrite);
    RTE_RegisterCallback("flashExcute", flashExcute);
    RTE_RegisterCallback("chip_read", chip_read);
    RTE_RegisterCallback("page_read", page_read);
    RTE_RegisterCallback("check_blank", check_blank);
    RTE_RegisterCallback("flash_op_clear", flash_op_clear);
    RTE_RegisterCallback("set_page_addr", set_page_addr);
    RTE_RegisterCallback("read_unprotect", read_unprotect);
    RTE_RegisterCallback("write_unprotect", write_unprotect);
}
