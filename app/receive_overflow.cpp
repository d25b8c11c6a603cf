#include "receive_overflow.h"

#include <cstdio>

#include "TideComm.h"
#include "operator_messages.h"
#include "rte_language.h"

namespace {

long droppedShown = 0;

}  // namespace

int TerminalReceiveErrorCallback(int port) {
    const long dropped = TideComm_GetDroppedCount(port);
    // The count starts again at 0 each time the port opens.
    if (dropped < droppedShown) {
        droppedShown = 0;
    }
    if (dropped > droppedShown) {
        droppedShown = dropped;
        char text[128];
        std::snprintf(text, sizeof text,
                      RTE_Translate("接收溢出：接收缓冲区已满，已丢失%ld字节！！！"), dropped);
        SetStatus(text);
    }
    return 0;
}
