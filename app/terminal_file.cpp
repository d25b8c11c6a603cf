// 加载TXT文件: a text file becomes the terminal's send text, which 发送 and
// the periodic send then use, whole or, with TABTERM_TXTBYLINE on, one line
// per tick. The program image is not touched.
#include <cstdio>
#include <string>
#include <vector>

#include "ChipLoad.h"
#include "TideComm.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"
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

// The loaded file's lines without their line ends, and the next one to send.
std::vector<std::string> txtLines;
std::size_t nextTxtLine = 0;

void KeepLines(const std::string& text) {
    txtLines.clear();
    nextTxtLine = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        txtLines.push_back(std::move(line));
        start = end + 1;
    }
}

}  // namespace

bool TxtLineByLine(void) {
    int byLine = 0;
    GetCtrlVal(termTabPanel, TABTERM_TXTBYLINE, &byLine);
    return byLine != 0 && !txtLines.empty();
}

void SendNextTxtLine(int port) {
    if (port == 0 || nextTxtLine >= txtLines.size()) {
        return;
    }
    if (IspExchangeInFlight()) {
        SetStatus(kTerminalBusyText);
        return;
    }
    int addLf = 0;
    int addCr = 0;
    GetCtrlVal(termTabPanel, TABTERM_ADDLF, &addLf);
    GetCtrlVal(termTabPanel, TABTERM_ADDCR, &addCr);
    std::string line = txtLines[nextTxtLine++];
    if (addLf != 0) {
        line += '\n';
    }
    if (addCr != 0) {
        line += '\r';
    }
    if (!line.empty()) {
        TideComm_OutputBuffer(port, line.data(), static_cast<int>(line.size()));
    }
    char text[128];
    if (nextTxtLine < txtLines.size()) {
        std::snprintf(text, sizeof text, RTE_Translate("TXT文件逐行发送：第%zu/%zu行"), nextTxtLine,
                      txtLines.size());
        SetStatus(text);
        return;
    }
    // The last line went: periodic sending stops rather than start over unasked.
    SetCtrlVal(termTabPanel, TABTERM_AUTOSEND, 0);
    nextTxtLine = 0;
    std::snprintf(text, sizeof text, RTE_Translate("TXT文件逐行发送完毕，共%zu行"),
                  txtLines.size());
    SetStatus(text);
}

int TxtSendModeCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                  int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        nextTxtLine = 0;
    }
    return 0;
}

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
    KeepLines(text);
    RTE_Beep();
    return 0;
}
