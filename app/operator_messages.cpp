#include "operator_messages.h"

#include "ChipLoad.h"
#include "panel_handles.h"
#include "rte.h"

void SetStatus(const char* text) {
    SetCtrlVal(panelHandle, PANEL_STATUS, text);
}

void LogLine(const char* text) {
    int lines = 0;
    GetNumTextBoxLines(opsTabPanel, TABOPS_LOG, &lines);
    SetCtrlAttribute(opsTabPanel, TABOPS_LOG, ATTR_FIRST_VISIBLE_LINE, lines);
    InsertTextBoxLine(opsTabPanel, TABOPS_LOG, -1, text);
}

void LogLineNoScroll(const char* text) {
    InsertTextBoxLine(opsTabPanel, TABOPS_LOG, -1, text);
}
