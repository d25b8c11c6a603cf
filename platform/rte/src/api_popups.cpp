// Entry points: modal pop-ups, the bell and the window handle. The front end
// shows each pop-up on its own thread and holds the engine's events while it
// is on the screen. Titles, texts and buttons are shown in the language in use.
#include <cstring>

#include "engine.h"
#include "rte_language.h"

using rte::detail::Engine;

namespace {

std::string Text(const char* s) {
    return s == nullptr ? std::string() : std::string(RTE_Translate(s));
}

}  // namespace

int MessagePopup(const char* title, const char* message) {
    const auto fe = Engine::Get().frontEnd();
    if (!fe) {
        return RTE_ERR_NOT_INITIALIZED;
    }
    fe->messagePopup({Text(title), Text(message)});
    return RTE_OK;
}

int GenericMessagePopup(const char* title, const char* message, const char* button1Label,
                        const char* button2Label, const char* button3Label, char* responseBuffer,
                        int maxResponseLength, int buttonAlignment, int activeControl,
                        int enterButton, int escapeButton) {
    const auto fe = Engine::Get().frontEnd();
    if (!fe) {
        return RTE_ERR_NOT_INITIALIZED;
    }
    rte::GenericRequest request;
    request.title = Text(title);
    request.message = Text(message);
    request.buttons = {Text(button1Label), Text(button2Label), Text(button3Label)};
    request.wantsResponse = responseBuffer != nullptr && maxResponseLength > 0;
    request.maxResponseLength = request.wantsResponse ? maxResponseLength : 0;
    request.buttonAlignment = buttonAlignment;
    request.activeControl = activeControl;
    request.enterButton = enterButton;
    request.escapeButton = escapeButton;
    const rte::GenericAnswer answer = fe->genericMessagePopup(request);
    if (request.wantsResponse) {
        const std::size_t n =
            std::min(answer.response.size(), static_cast<std::size_t>(maxResponseLength));
        std::memcpy(responseBuffer, answer.response.data(), n);
        responseBuffer[n] = '\0';
    }
    const bool shown = answer.button >= 1 && answer.button <= 3 &&
                       !request.buttons[static_cast<std::size_t>(answer.button - 1)].empty();
    return shown ? answer.button : 0;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName, std::size_t pathNameSize) {
    if (pathName == nullptr || pathNameSize == 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    pathName[0] = '\0';
    const auto fe = Engine::Get().frontEnd();
    if (!fe) {
        return RTE_ERR_NOT_INITIALIZED;
    }
    rte::FileRequest request;
    request.directory = Text(defaultDirectory);
    request.fileSpec = Text(defaultFileSpec);
    request.typeList = Text(fileTypeList);
    request.title = Text(title);
    request.buttonLabel = buttonLabel;
    request.restrictDirectory = restrictDirectory != 0;
    request.restrictExtension = restrictExtension != 0;
    request.allowCancel = allowCancel != 0;
    request.allowMakeDirectory = allowMakeDirectory != 0;
    const rte::FileAnswer answer = fe->fileSelectPopup(request);
    if (answer.result != VAL_EXISTING_FILE_SELECTED && answer.result != VAL_NEW_FILE_SELECTED) {
        return VAL_NO_FILE_SELECTED;
    }
    if (answer.path.empty()) {
        return VAL_NO_FILE_SELECTED;
    }
    if (answer.path.size() >= pathNameSize) {
        return RTE_ERR_PATH_TOO_LONG;  // never a cut path that names another file
    }
    std::memcpy(pathName, answer.path.c_str(), answer.path.size() + 1);
    return answer.result;
}

void RTE_Beep(void) {
    if (const auto fe = Engine::Get().frontEnd()) {
        fe->beep();
    }
}

std::intptr_t GetRTEWindowHandle(void) {
    const auto fe = Engine::Get().frontEnd();
    return fe ? fe->windowHandle() : 0;
}

namespace rte {

PopupOnScreen::PopupOnScreen() {
    Engine::Get().popupOpened();
}

PopupOnScreen::~PopupOnScreen() {
    Engine::Get().popupClosed();
}

}  // namespace rte
