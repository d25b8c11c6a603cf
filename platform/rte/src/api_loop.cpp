// Entry points: start, panels, the event loop and deferred calls.
#include "engine.h"

using rte::detail::Engine;
using rte::detail::Event;

void RTE_InstallFrontEnd(std::shared_ptr<rte::FrontEnd> frontEnd) {
    Engine::Get().install(std::move(frontEnd));
}

int InitRTEEx(void* /*instance*/, char** /*argv*/, void* /*reserved*/) {
    return Engine::Get().init();
}

void RTE_CloseEngine(void) {
    Engine::Get().close();
}

int LoadPanel(int parentPanel, const char* fileName, int panelResourceId) {
    if (fileName == nullptr || parentPanel != 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().loadPanel(fileName, panelResourceId);
}

int DisplayPanel(int panel) {
    return Engine::Get().displayPanel(panel);
}

int DiscardPanel(int panel) {
    return Engine::Get().discardPanel(panel);
}

int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pageHandle) {
    return Engine::Get().tabPage(panel, tabControl, pageIndex, pageHandle);
}

int SetActiveCtrl(int panel, int control) {
    return Engine::Get().setActiveControl(panel, control);
}

int GetActiveCtrl(int panel) {
    const auto info = Engine::Get().panelInfo(panel);
    return info ? info->activeControl : RTE_ERR_BAD_PANEL;
}

int RunUserInterface(void) {
    return Engine::Get().run();
}

int QuitUserInterface(int returnCode) {
    Engine::Get().quit(returnCode);
    return RTE_OK;
}

int ProcessSystemEvents(void) {
    return Engine::Get().processSystemEvents();
}

int PostDeferredCall(DeferredCallbackPtr function, void* callbackData) {
    if (function == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Event event;
    event.type = Event::Type::Deferred;
    event.function = function;
    event.data = callbackData;
    Engine::Get().post(event);
    return RTE_OK;
}
