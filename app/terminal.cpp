#include "terminal.h"

#include <cstring>
#include <string>

#include "ChipLoad.h"
#include "TideComm.h"
#include "operator_messages.h"
#include "panel_handles.h"
#include "rte.h"
#include "rte_language.h"
#include "session.h"
#include "terminal_echo.h"

namespace {

char Txbuffer[TXBUFFER_SIZE];

// Value of a hex digit, or -1 for any other character.
int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A character that is neither a hex digit nor a blank would be skipped
// without a word and the bytes sent would not be what the operator typed:
// the text is refused, naming the first such character (whole, when it is
// more than one byte of UTF-8). True when the text may be sent.
bool HexTextValid(int textLength) {
    for (int i = 0; i < textLength; i++) {
        if (HexDigitValue(Txbuffer[i]) >= 0 || IsBlank(Txbuffer[i])) {
            continue;
        }
        int end = i + 1;
        while (end < textLength && (static_cast<unsigned char>(Txbuffer[end]) & 0xC0) == 0x80) {
            end++;
        }
        const std::string bad(Txbuffer + i, Txbuffer + end);
        const std::string text = RTE_Translate("十六进制发送内容含非法字符“") + bad +
                                 RTE_Translate("”（第") + std::to_string(i + 1) +
                                 RTE_Translate("个字节），未发送！！！");
        SetStatus(text.c_str());
        return false;
    }
    return true;
}

// Packs the digit pairs of the text in Txbuffer into bytes at its start,
// skipping blanks; an unpaired last digit is dropped.
int PackHexDigits(int textLength) {
    int bytes = 0;
    int halves = 0;
    int accumulator = 0;
    for (int i = 0; i < textLength; i++) {
        const int digit = HexDigitValue(Txbuffer[i]);
        if (digit < 0) {
            continue;
        }
        accumulator = ((accumulator << 4) | digit) & 0xFF;
        if (++halves == 2) {
            Txbuffer[bytes++] = static_cast<char>(accumulator);
            halves = 0;
            accumulator = 0;
        }
    }
    return bytes;
}

// Copies the send box into Txbuffer when it fits with `reserve` more bytes
// and the terminating zero; -1 (and the operator told) when it does not.
int CopySendText(int reserve) {
    int length = 0;
    GetCtrlValStringLength(termTabPanel, TABTERM_SEND, &length);
    if (length + reserve + 1 > TXBUFFER_SIZE) {
        static const char kTooLong[] = "发送内容超过发送缓冲区（4096字节），未发送！！！";
        SetStatus(kTooLong);
        return -1;
    }
    GetCtrlVal(termTabPanel, TABTERM_SEND, Txbuffer, sizeof Txbuffer);
    return static_cast<int>(std::strlen(Txbuffer));
}

// Appends the switched-on line ends: line feed first, then carriage return.
void AppendLineEnds(int length, int addLf, int addCr) {
    if (addLf != 0) {
        Txbuffer[length++] = '\n';
    }
    if (addCr != 0) {
        Txbuffer[length++] = '\r';
    }
    Txbuffer[length] = '\0';
}

// What the operator sent by hand comes back with the up key, as in a shell.
void KeepSendTextInHistory() {
    int length = 0;
    GetCtrlValStringLength(termTabPanel, TABTERM_SEND, &length);
    if (length <= 0 || length >= TXBUFFER_SIZE) {
        return;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    GetCtrlVal(termTabPanel, TABTERM_SEND, text.data(), text.size());
    text.resize(static_cast<std::size_t>(length));
    AddCtrlHistory(termTabPanel, TABTERM_SEND, text.c_str());
}

}  // namespace

void UartSendData(int port) {
    if (port == 0) {
        return;
    }
    if (IspExchangeInFlight()) {
        SetStatus(kTerminalBusyText);
        return;
    }
    // Whatever answers the terminal ends its read by the interval, not by a length.
    TideComm_SetReplyLength(port, 0);
    int sendHex = 0;
    GetCtrlVal(termTabPanel, TABTERM_SENDHEX, &sendHex);
    if (sendHex == 0) {
        int addLf = 0;
        int addCr = 0;
        GetCtrlVal(termTabPanel, TABTERM_ADDLF, &addLf);
        GetCtrlVal(termTabPanel, TABTERM_ADDCR, &addCr);
        const int length = CopySendText((addLf != 0 ? 1 : 0) + (addCr != 0 ? 1 : 0));
        if (length <= 0) {
            return;
        }
        AppendLineEnds(length, addLf, addCr);
        TideComm_Output(port, Txbuffer);
        return;
    }
    const int length = CopySendText(0);
    if (length <= 0) {
        return;
    }
    if (!HexTextValid(length)) {
        return;
    }
    const int bytes = PackHexDigits(length);
    if (bytes > 0) {
        TideComm_OutputBuffer(port, Txbuffer, bytes);
    }
}

int SendDataCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        UartSendData(comport);
        KeepSendTextInHistory();
    }
    return 0;
}

int SendDataCb(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
               int /*eventData1*/, int /*eventData2*/) {
    if (event != EVENT_TIMER_TICK) {
        return 0;
    }
    int autoSend = 0;
    GetCtrlVal(termTabPanel, TABTERM_AUTOSEND, &autoSend);
    if (autoSend == 0) {
        return 0;
    }
    if (TxtLineByLine()) {
        SendNextTxtLine(comport);
    } else {
        UartSendData(comport);
    }
    return 0;
}

int TimerIntervalCb(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                    int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        double interval = 0.0;
        GetCtrlVal(termTabPanel, TABTERM_INTERVAL, &interval);
        SetCtrlAttribute(termTabPanel, TABTERM_TIMER, ATTR_INTERVAL, interval);
    }
    return 0;
}

int ReceiveDisplayCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                     int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        int display = 0;
        GetCtrlVal(termTabPanel, TABTERM_DISPLAY, &display);
        SetCtrlVal(termTabPanel, TABTERM_DISPLAYLED, display);
    }
    return 0;
}

int ClearReceiveBoxCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                      int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ResetTextBox(termTabPanel, TABTERM_RECEIVE, "");
        ClearReceiveEcho();
    }
    return 0;
}

int ClearSendBoxCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                   int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        ResetTextBox(termTabPanel, TABTERM_SEND, "");
    }
    return 0;
}

int ClearReceiveCountCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                        int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        SetCtrlVal(termTabPanel, TABTERM_RXCOUNT, 0);
        TideComm_SetReceiveCount(comport, 0);
    }
    return 0;
}

int ClearSendCountCB(int /*panel*/, int /*control*/, int event, void* /*callbackData*/,
                     int /*eventData1*/, int /*eventData2*/) {
    if (event == EVENT_COMMIT) {
        SetCtrlVal(termTabPanel, TABTERM_TXCOUNT, 0);
        TideComm_SetSendCount(comport, 0);
    }
    return 0;
}
