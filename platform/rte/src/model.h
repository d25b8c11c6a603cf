// The engine's panel and control records, and the value and attribute rules
// of each control kind. Plain data: the engine guards it with its mutex.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input_history.h"
#include "rte.h"
#include "rte_frontend.h"

namespace rte::detail {

struct ControlRecord {
    int id = 0;
    ControlKind kind = ControlKind::Decoration;
    std::string constant, label, style;
    int left = 0, top = 0, width = 0, height = 0;
    Follow follow;
    bool isDouble = false;
    int precision = 0;
    int intValue = 0;
    double doubleValue = 0;
    std::string text;
    std::vector<std::string> lines;
    InputHistory history;          // strings and text boxes: what was entered before
    std::uint64_t generation = 1;  // text boxes; 0 means "unknown" to ReadTextBox
    int firstVisibleLine = 0;
    double minimum = 0, maximum = 0;
    std::vector<RingItem> items;
    int selectedIndex = -1;
    std::string onText, offText;
    bool dimmed = false, visible = true, tabsVisible = true;
    std::vector<int> pages;
    std::vector<std::string> pageLabels;
    double interval = 1.0;
    bool enabled = true;
    std::string callbackName;  // as the panel file names it
    CtrlCallbackPtr callback = nullptr;
    void* callbackData = nullptr;
    // Timer controls: the next tick's time and whether one waits in the queue.
    std::chrono::steady_clock::time_point nextTick{};
    bool tickQueued = false;
};

struct PanelRecord {
    int handle = 0;
    int resourceId = 0;
    std::string constant, title;
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0;
    int parentPanel = 0, parentTab = 0, pageIndex = -1;
    bool displayed = false;
    int activeControl = 0;
    std::string closeCallbackName;
    CtrlCallbackPtr closeCallback = nullptr;
    std::vector<ControlRecord> controls;

    ControlRecord* find(int control);
    const ControlRecord* find(int control) const;
};

// Value rules. Each returns RTE_OK or an RTE_ERR_ code and changes nothing on failure.
int SetNumber(ControlRecord& control, double value, bool fromInt, int intValue);
int SetText(ControlRecord& control, const std::string& text);
int GetInt(const ControlRecord& control, int& value);
int GetDouble(const ControlRecord& control, double& value);
int GetText(const ControlRecord& control, std::string& text);
int SelectIndex(ControlRecord& control, int index);
// Rings: empties the list, or inserts an item before index (-1 or past the end appends).
int ClearItems(ControlRecord& control);
int InsertItem(ControlRecord& control, int index, const std::string& label, int value);

// Attribute rules.
int SetIntAttribute(ControlRecord& control, int attribute, int value);
int SetDoubleAttribute(ControlRecord& control, int attribute, double value);
int SetTextAttribute(ControlRecord& control, int attribute, const std::string& value);
int SetCallbackAttribute(ControlRecord& control, int attribute, CtrlCallbackPtr value);
int GetIntAttribute(const ControlRecord& control, int attribute, int& value);
int GetDoubleAttribute(const ControlRecord& control, int attribute, double& value);
int GetTextAttribute(const ControlRecord& control, int attribute, std::string& value);
int GetCallbackAttribute(const ControlRecord& control, int attribute, CtrlCallbackPtr& value);

std::vector<std::string> SplitLines(const std::string& text);
std::string JoinLines(const std::vector<std::string>& lines);

ControlInfo Describe(int panel, const ControlRecord& control);
PanelInfo Describe(const PanelRecord& panel);

}  // namespace rte::detail
