#include "receive_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "ChipLoad.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "rte.h"
#include "rte_language.h"

namespace {

std::FILE* receiveLog = nullptr;
std::string receiveLogPath;

void ShowClosed() {
    SetCtrlVal(termTabPanel, TABTERM_LOGFILE, 0);
}

// A log that cannot be written is closed: a capture with silent holes would
// look complete and be wrong.
void ReportFailure(const char* what, int error) {
    const std::string text = RTE_Translate(what) + receiveLogPath + "：" + std::strerror(error);
    SetStatus(text.c_str());
    MessagePopup("警告", text.c_str());
}

bool OpenLog() {
    char path[RTE_MAX_PATHNAME_LEN];
    if (FileSelectPopup("", "*.log", "*.log;*.txt;*.bin", "接收数据记录到文件", 1, 0, 0, 1, 1, path,
                        sizeof path) <= 0) {
        return false;
    }
    receiveLogPath = path;
    receiveLog = std::fopen(path, "ab");
    if (receiveLog == nullptr) {
        ReportFailure("接收记录文件无法打开：", errno);
        return false;
    }
    const std::string text = RTE_Translate("接收数据记录到：") + receiveLogPath;
    SetStatus(text.c_str());
    return true;
}

}  // namespace

int ReceiveLogCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                 int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_COMMIT) {
        return 0;
    }
    int wanted = 0;
    GetCtrlVal(termTabPanel, TABTERM_LOGFILE, &wanted);
    if (wanted == 0) {
        CloseReceiveLog();
    } else if (receiveLog == nullptr && !OpenLog()) {
        ShowClosed();
    }
    return 0;
}

void LogReceived(const unsigned char* data, int length) {
    if (receiveLog == nullptr || length <= 0) {
        return;
    }
    const auto size = static_cast<std::size_t>(length);
    if (std::fwrite(data, 1, size, receiveLog) != size || std::fflush(receiveLog) != 0) {
        const int error = errno;
        std::fclose(receiveLog);
        receiveLog = nullptr;
        ShowClosed();
        ReportFailure("接收记录文件写入失败，记录已停止：", error);
    }
}

void CloseReceiveLog(void) {
    if (receiveLog == nullptr) {
        ShowClosed();
        return;
    }
    const bool closed = std::fclose(receiveLog) == 0;
    const int error = errno;
    receiveLog = nullptr;
    ShowClosed();
    if (!closed) {
        ReportFailure("接收记录文件写入失败，记录已停止：", error);
        return;
    }
    const std::string text = RTE_Translate("接收记录已关闭：") + receiveLogPath;
    SetStatus(text.c_str());
}
