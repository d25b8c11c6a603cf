#include "terminal_echo.h"

#include "ChipLoad.h"
#include "TideComm.h"
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
    const ReceiveLines::Update update =
        receiveLines.feed(data, static_cast<std::size_t>(length), mode);
    std::size_t next = 0;
    if (update.replaceLast && !update.lines.empty() && lines > 0) {
        ReplaceTextBoxLine(termTabPanel, TABTERM_RECEIVE, lines - 1, update.lines[0].c_str());
        next = 1;
    }
    if (next < update.lines.size()) {
        SetCtrlAttribute(termTabPanel, TABTERM_RECEIVE, ATTR_FIRST_VISIBLE_LINE, lines);
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

int EchoReceivedFrame(int port, const unsigned char* data, int length) {
    if (length > TideComm_GetInputLen(port)) {
        return ECHO_NOT_SHOWN;
    }
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
