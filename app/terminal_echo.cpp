#include "terminal_echo.h"

#include <string>
#include <vector>

#include "ChipLoad.h"
#include "TideComm.h"
#include "panel_handles.h"
#include "rte.h"

namespace {

void AppendReceiveLine(const char* text) {
    int lines = 0;
    GetNumTextBoxLines(termTabPanel, TABTERM_RECEIVE, &lines);
    SetCtrlAttribute(termTabPanel, TABTERM_RECEIVE, ATTR_FIRST_VISIBLE_LINE, lines);
    InsertTextBoxLine(termTabPanel, TABTERM_RECEIVE, -1, text);
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
    // A line end closing the run is not shown; everything before it is. The
    // run is borrowed from the library, so the text is cut in a copy.
    int shown = length > 0 ? length : 0;
    while (shown > 0 && (data[shown - 1] == '\r' || data[shown - 1] == '\n')) {
        --shown;
    }
    const std::string text(reinterpret_cast<const char*>(data), static_cast<std::size_t>(shown));
    AppendReceiveLine(text.c_str());
    return ECHO_TEXT;
}

void EchoHexLine(const unsigned char* data, int length) {
    std::vector<char> hex(2 * static_cast<std::size_t>(length > 0 ? length : 0) + 1);
    TideComm_BinToHex(data, hex.data(), length, 0);
    AppendReceiveLine(hex.data());
}
