// 加载TXT文件: a text file becomes the terminal's send text, which 发送 and
// the periodic send then use. The program image is not touched.
#include <string>

#include "ChipLoad.h"
#include "panel_handles.h"
#include "rte.h"
#include "rte_language.h"
#include "terminal.h"

namespace {

// What the send buffer holds without line ends (its last byte is the terminator).
constexpr long kLargestSendText = TXBUFFER_SIZE - 1;

void PopupWithPath(const char* before, const char* path, const char* after) {
    char text[RTE_MAX_PATHNAME_LEN + 128];
    Fmt(text, "%s<%s%s%s", RTE_Translate(before), path, RTE_Translate(after));
    MessagePopup("系统提示", text);
}

// The whole file, or false when it cannot be read.
bool ReadWholeFile(const char* path, long size, std::string& text) {
    const int handle = RTE_OpenFile(path, RTE_FILE_READ, RTE_FILE_OPEN_AS_IS, RTE_FILE_BINARY);
    if (handle <= 0) {
        return false;
    }
    text.assign(static_cast<std::size_t>(size), '\0');
    const int read = size > 0 ? RTE_ReadFile(handle, text.data(), static_cast<int>(size)) : 0;
    RTE_CloseFile(handle);
    if (read < 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(read));
    return true;
}

}  // namespace

int comm_loadfile(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                  int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    char path[RTE_MAX_PATHNAME_LEN];
    if (FileSelectPopup("", "*.txt", "*.txt", "选择TXT文件", 2, 0, 0, 1, 0, path, sizeof path) <=
        0) {
        return 0;
    }
    long size = 0;
    if (GetFileInfo(path, &size) != 1) {
        RTE_Beep();
        PopupWithPath("TXT文件", path, "不能打开！！！");
        return 0;
    }
    // A file the send buffer cannot hold whole is refused, and the send text
    // the operator had stays.
    if (size > kLargestSendText) {
        RTE_Beep();
        PopupWithPath("TXT文件", path, "超过发送缓冲区（4095字节），未加载！！！");
        return 0;
    }
    std::string text;
    if (!ReadWholeFile(path, size, text)) {
        RTE_Beep();
        PopupWithPath("TXT文件", path, "不能打开！！！");
        return 0;
    }
    if (text.find('\0') != std::string::npos) {
        RTE_Beep();
        PopupWithPath("TXT文件", path, "含有空字符，不是文本文件，未加载！！！");
        return 0;
    }
    SetCtrlVal(termTabPanel, TABTERM_TXTPATH, path);
    SetCtrlVal(termTabPanel, TABTERM_SEND, text.c_str());
    RTE_Beep();
    return 0;
}
