#include "startup.h"

#include <cstring>

#include "ChipLoad.h"
#include "TideComm.h"
#include "asynctimer.h"
#include "callback_registry.h"
#include "chipload_version.h"
#include "connection.h"
#include "flash_ops.h"
#include "panel_handles.h"
#include "port_names.h"
#include "program_image.h"
#include "read_exchange.h"
#include "receive_log.h"
#include "reply_timeout.h"
#include "rte.h"
#include "session.h"
#include "terminal_echo.h"

int panelHandle = 0;
int ispTabPanel = 0;
int termTabPanel = 0;
int thirdTabPanel = 0;
int opsTabPanel = 0;
int opsTab2Panel = 0;
int TimerID1 = -1;
int threadID = -1;
int threadID_checkblank = -1;

namespace {

// A second WinMain in the same process (as the tests run it) starts from the
// same state as the first.
void ResetPanelHandles() {
    panelHandle = ispTabPanel = termTabPanel = thirdTabPanel = opsTabPanel = opsTab2Panel = 0;
    TimerID1 = -1;
    threadID = threadID_checkblank = -1;
}

bool ConfirmQuit(const char* question) {
    return GenericMessagePopup("系统提示", question, "退出(__Y)", "放弃(__N)", "", nullptr, 0, 0, 2,
                               2, 2) == 1;
}

void StartWorkers() {
    static char workerText[] = "这是多线程！";
    f_read_iterator = 0;
    CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, read_display, workerText, &threadID);
    CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, check_blank_op, workerText,
                                  &threadID_checkblank);
}

// Both workers run while f_read_iterator <= f_read_len.
void StopWorkers() {
    f_read_iterator = f_read_len + 1;
    WakeReadWorkers();
}

void JoinWorkers() {
    if (threadID != -1) {
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, threadID,
                                               OPT_TP_PROCESS_EVENTS_WHILE_WAITING);
    }
    if (threadID_checkblank != -1) {
        CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, threadID_checkblank,
                                               OPT_TP_PROCESS_EVENTS_WHILE_WAITING);
    }
    if (threadID != -1) {
        CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, threadID);
    }
    if (threadID_checkblank != -1) {
        CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, threadID_checkblank);
    }
}

}  // namespace

int WinMain(HANDLE hInstance, HANDLE /*hPrevInstance*/, LPSTR /*lpszCmdLine*/, int /*nCmdShow*/) {
    ResetPanelHandles();
    ResetSessionState();
    ResetConnectionState();
    ResetProgramImage();
    ForgetLastReadBack();
    ClearReceiveEcho();
    if (InitRTEEx(hInstance, nullptr, nullptr) == 0) {
        return -1;
    }
    RegisterChipLoadCallbacks();
    panelHandle = LoadPanel(0, "ChipLoad.uir", 1);
    if (panelHandle < 0) {
        return -1;
    }
    std::memset(&STM32_info, 0, sizeof STM32_info);
    static char timerText[] = "这是异步定时器！";
    TimerID1 = NewAsyncTimer(2.0, -1, 0, NACK_process, timerText);
    StartWorkers();
    // The clock's first tick is a second away: show the time from the start.
    SetCtrlVal(panelHandle, PANEL_TIME, TimeStr());
    // Focus on the main action rather than a text field: no cursor blinks,
    // and the window stays asleep until the operator acts.
    SetActiveCtrl(panelHandle, PANEL_CONNECT);
    DisplayPanel(panelHandle);
    SystemInit();
    RunUserInterface();

    JoinWorkers();
    // Already discarded by the quit; this reports an invalid ID and changes nothing.
    DiscardAsyncTimer(TimerID1);
    ReleaseProgramImage();
    DiscardPanel(panelHandle);
    return 0;
}

void SystemInit(void) {
    GetPanelHandleFromTabPage(panelHandle, PANEL_TAB, 0, &ispTabPanel);
    GetPanelHandleFromTabPage(panelHandle, PANEL_TAB, 1, &termTabPanel);
    GetPanelHandleFromTabPage(panelHandle, PANEL_TAB, 2, &thirdTabPanel);
    GetPanelHandleFromTabPage(ispTabPanel, TABISP_TAB, 0, &opsTabPanel);
    GetPanelHandleFromTabPage(ispTabPanel, TABISP_TAB, 1, &opsTab2Panel);
    SetCtrlVal(thirdTabPanel, TABTHIRD_VERSION, CHIPLOAD_VERSION);
    TideComm_Init();
    StartPortNames();
}

void SystemQuit(void) {
    StopPortNames();
    TideComm_Quit();
}

int TimerCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/, int /*eventData1*/,
            int /*eventData2*/) {
    if (event == EVENT_TIMER_TICK) {
        SetCtrlVal(panelHandle, PANEL_TIME, TimeStr());
    }
    return 0;
}

int MainQuitCb(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    if (!ConfirmQuit("请您确认是否退出(Y/N)?") || !ConfirmQuit("请您再次确认是否退出(Y/N)?")) {
        return 0;
    }
    SystemQuit();
    CloseReceiveLog();
    QuitUserInterface(0);
    StopWorkers();
    DiscardAsyncTimer(TimerID1);
    DiscardReplyTimer();
    return 0;
}

int TideCommOnCommCallback(int port) {
    if (TideComm_GetCommEvent(port) == TIDECOMM_EVENT_RECEIVE) {
        TideComm_ReceiveCallback(port);
    }
    return 0;
}
