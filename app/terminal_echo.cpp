#include "terminal_echo.h"

#include <chrono>

#include "ChipLoad.h"
#include "panel_handles.h"
#include "receive_lines.h"
#include "rte.h"

namespace {

// A long session keeps the newest lines only.
constexpr int kMaxReceiveLines = 2000;

ReceiveLines receiveLines;
int linesAfterEcho = 0;

void ShowReceived(const unsigned char* data, int length, ReceiveLines::Mode mode) {
    if (length <= 0) {
        return;
    }
    int lines = 0;
    GetNumTextBoxLines(termTabPanel, TABTERM_RECEIVE, &lines);
    // A line added by someone else ends the unfinished one: it is not the last.
    if (lines != linesAfterEcho) {
        receiveLines.reset();
    }
    int stamped = 0;
    GetCtrlVal(termTabPanel, TABTERM_TIMESTAMP, &stamped);
    const ReceiveLines::Update update =
        receiveLines.feed(data, static_cast<std::size_t>(length), mode,
                          stamped != 0 ? ReceiveStamp(std::chrono::system_clock::now()) : "");
    std::size_t next = 0;
    if (update.replaceLast && !update.lines.empty() && lines > 0) {
        ReplaceTextBoxLine(termTabPanel, TABTERM_RECEIVE, lines - 1, update.lines[0].c_str());
        next = 1;
    }
    for (; next < update.lines.size(); next++) {
        InsertTextBoxLine(termTabPanel, TABTERM_RECEIVE, -1, update.lines[next].c_str());
    }
    GetNumTextBoxLines(termTabPanel, TABTERM_RECEIVE, &lines);
    if (lines > kMaxReceiveLines) {
        DeleteTextBoxLines(termTabPanel, TABTERM_RECEIVE, 0, lines - kMaxReceiveLines);
        lines = kMaxReceiveLines;
    }
    linesAfterEcho = lines;
}

}  // namespace

// Every run the library hands out is shown, however long: its frame buffer
// bounds it, and a run dropped here would be data the operator never sees.
int EchoReceivedFrame(const unsigned char* data, int length) {
    int display = 0;
    int mode = 0;
    GetCtrlVal(termTabPanel, TABTERM_DISPLAY, &display);
    GetCtrlVal(termTabPanel, TABTERM_MODE, &mode);
    if (display == 0) {
        return ECHO_NOT_SHOWN;
    }
    if (mode != 0) {
        return ECHO_HEX;
    }
    ShowReceived(data, length, ReceiveLines::Mode::kText);
    return ECHO_TEXT;
}

void EchoHexLine(const unsigned char* data, int length) {
    ShowReceived(data, length, ReceiveLines::Mode::kHex);
}

void ClearReceiveEcho(void) {
    receiveLines.reset();
    linesAfterEcho = 0;
}
