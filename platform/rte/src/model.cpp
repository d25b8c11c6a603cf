#include "model.h"

#include <climits>
#include <cmath>

#include "rte_callbacks.h"

namespace rte::detail {

namespace {

bool HoldsNumber(ControlKind kind) {
    return kind == ControlKind::Numeric || kind == ControlKind::Ring || kind == ControlKind::Led ||
           kind == ControlKind::Toggle || kind == ControlKind::Switch;
}

int RoundToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (value <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(std::lround(value));
}

}  // namespace

ControlRecord* PanelRecord::find(int control) {
    for (auto& c : controls) {
        if (c.id == control) {
            return &c;
        }
    }
    return nullptr;
}

const ControlRecord* PanelRecord::find(int control) const {
    return const_cast<PanelRecord*>(this)->find(control);
}

int SetNumber(ControlRecord& control, double value, bool fromInt, int intValue) {
    if (!HoldsNumber(control.kind)) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    const int asInt = fromInt ? intValue : RoundToInt(value);
    switch (control.kind) {
        case ControlKind::Numeric:
            if (control.isDouble) {
                control.doubleValue = value;
            } else {
                control.intValue = asInt;
            }
            return RTE_OK;
        case ControlKind::Ring:
            for (std::size_t i = 0; i < control.items.size(); ++i) {
                if (control.items[i].value == asInt) {
                    control.selectedIndex = static_cast<int>(i);
                    control.intValue = asInt;
                    return RTE_OK;
                }
            }
            return RTE_ERR_BAD_ARGUMENT;
        default:  // LEDs, toggles and switches keep the number as given
            control.intValue = asInt;
            return RTE_OK;
    }
}

int SetText(ControlRecord& control, const std::string& text) {
    if (control.kind == ControlKind::String) {
        control.text = text;
        return RTE_OK;
    }
    if (control.kind == ControlKind::TextBox) {
        control.lines = SplitLines(text);
        ++control.generation;
        return RTE_OK;
    }
    return RTE_ERR_BAD_VALUE_TYPE;
}

int GetInt(const ControlRecord& control, int& value) {
    if (!HoldsNumber(control.kind)) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    value = (control.kind == ControlKind::Numeric && control.isDouble)
                ? RoundToInt(control.doubleValue)
                : control.intValue;
    return RTE_OK;
}

int GetDouble(const ControlRecord& control, double& value) {
    if (!HoldsNumber(control.kind)) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    value = (control.kind == ControlKind::Numeric && control.isDouble)
                ? control.doubleValue
                : static_cast<double>(control.intValue);
    return RTE_OK;
}

int GetText(const ControlRecord& control, std::string& text) {
    if (control.kind == ControlKind::String) {
        text = control.text;
        return RTE_OK;
    }
    if (control.kind == ControlKind::TextBox) {
        text = JoinLines(control.lines);
        return RTE_OK;
    }
    return RTE_ERR_BAD_VALUE_TYPE;
}

int SelectIndex(ControlRecord& control, int index) {
    if (control.kind != ControlKind::Ring) {
        return RTE_ERR_BAD_ATTRIBUTE;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= control.items.size()) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    control.selectedIndex = index;
    control.intValue = control.items[static_cast<std::size_t>(index)].value;
    return RTE_OK;
}

int ClearItems(ControlRecord& control) {
    if (control.kind != ControlKind::Ring) {
        return RTE_ERR_BAD_CONTROL;
    }
    control.items.clear();
    control.selectedIndex = -1;
    control.intValue = 0;
    return RTE_OK;
}

int InsertItem(ControlRecord& control, int index, const std::string& label, int value) {
    if (control.kind != ControlKind::Ring) {
        return RTE_ERR_BAD_CONTROL;
    }
    const std::size_t at = index < 0 || static_cast<std::size_t>(index) > control.items.size()
                               ? control.items.size()
                               : static_cast<std::size_t>(index);
    control.items.insert(control.items.begin() + static_cast<std::ptrdiff_t>(at), {label, value});
    // The selection stays on the item it was on; the first item selects itself.
    if (control.selectedIndex < 0) {
        return SelectIndex(control, 0);
    }
    if (static_cast<std::size_t>(control.selectedIndex) >= at) {
        ++control.selectedIndex;
    }
    return RTE_OK;
}

int SetIntAttribute(ControlRecord& control, int attribute, int value) {
    switch (attribute) {
        case ATTR_DIMMED:
            control.dimmed = value != 0;
            return RTE_OK;
        case ATTR_VISIBLE:
            control.visible = value != 0;
            return RTE_OK;
        case ATTR_CALLBACK_FUNCTION_POINTER:
            // Only 0 makes sense as an int here: it removes the callback.
            return value == 0 ? SetCallbackAttribute(control, attribute, nullptr)
                              : RTE_ERR_BAD_VALUE_TYPE;
        case ATTR_CTRL_INDEX:
            return SelectIndex(control, value);
        case ATTR_FIRST_VISIBLE_LINE:
            if (control.kind != ControlKind::TextBox) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            if (value < 0) {
                return RTE_ERR_BAD_ARGUMENT;
            }
            control.firstVisibleLine = value;
            return RTE_OK;
        case ATTR_ENABLED:
            if (control.kind != ControlKind::Timer) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            control.enabled = value != 0;
            return RTE_OK;
        case ATTR_TABS_VISIBLE:
            if (control.kind != ControlKind::Tab) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            control.tabsVisible = value != 0;
            return RTE_OK;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE:
        case ATTR_INTERVAL:
            return SetDoubleAttribute(control, attribute, static_cast<double>(value));
        default:
            return RTE_ERR_BAD_ATTRIBUTE;
    }
}

int SetDoubleAttribute(ControlRecord& control, int attribute, double value) {
    switch (attribute) {
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE:
            if (control.kind != ControlKind::Numeric) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            (attribute == ATTR_MAX_VALUE ? control.maximum : control.minimum) =
                control.isDouble ? value : static_cast<double>(RoundToInt(value));
            return RTE_OK;
        case ATTR_INTERVAL:
            if (control.kind != ControlKind::Timer) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            if (!(value >= 0)) {
                return RTE_ERR_BAD_ARGUMENT;
            }
            control.interval = value;
            return RTE_OK;
        case ATTR_DIMMED:
        case ATTR_VISIBLE:
        case ATTR_CTRL_INDEX:
        case ATTR_FIRST_VISIBLE_LINE:
        case ATTR_ENABLED:
        case ATTR_TABS_VISIBLE:
            return SetIntAttribute(control, attribute, RoundToInt(value));
        default:
            return RTE_ERR_BAD_ATTRIBUTE;
    }
}

int SetTextAttribute(ControlRecord& control, int attribute, const std::string& value) {
    if (attribute != ATTR_LABEL_TEXT) {
        return attribute == ATTR_CALLBACK_FUNCTION_POINTER ? RTE_ERR_BAD_VALUE_TYPE
                                                           : RTE_ERR_BAD_ATTRIBUTE;
    }
    control.label = value;
    return RTE_OK;
}

int SetCallbackAttribute(ControlRecord& control, int attribute, CtrlCallbackPtr value) {
    if (attribute != ATTR_CALLBACK_FUNCTION_POINTER) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    if (control.kind == ControlKind::Decoration) {
        return RTE_ERR_BAD_ATTRIBUTE;
    }
    control.callback = value;
    control.callbackName = value != nullptr ? RTE_CallbackName(value) : "";
    return RTE_OK;
}

int GetIntAttribute(const ControlRecord& control, int attribute, int& value) {
    switch (attribute) {
        case ATTR_DIMMED:
            value = control.dimmed ? 1 : 0;
            return RTE_OK;
        case ATTR_VISIBLE:
            value = control.visible ? 1 : 0;
            return RTE_OK;
        case ATTR_CTRL_INDEX:
            if (control.kind != ControlKind::Ring) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = control.selectedIndex;
            return RTE_OK;
        case ATTR_FIRST_VISIBLE_LINE:
            if (control.kind != ControlKind::TextBox) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = control.firstVisibleLine;
            return RTE_OK;
        case ATTR_ENABLED:
            if (control.kind != ControlKind::Timer) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = control.enabled ? 1 : 0;
            return RTE_OK;
        case ATTR_TABS_VISIBLE:
            if (control.kind != ControlKind::Tab) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = control.tabsVisible ? 1 : 0;
            return RTE_OK;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE:
        case ATTR_INTERVAL: {
            double d = 0;
            const int result = GetDoubleAttribute(control, attribute, d);
            if (result == RTE_OK) {
                value = RoundToInt(d);
            }
            return result;
        }
        default:
            return attribute == ATTR_LABEL_TEXT || attribute == ATTR_CALLBACK_FUNCTION_POINTER
                       ? RTE_ERR_BAD_VALUE_TYPE
                       : RTE_ERR_BAD_ATTRIBUTE;
    }
}

int GetDoubleAttribute(const ControlRecord& control, int attribute, double& value) {
    switch (attribute) {
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE:
            if (control.kind != ControlKind::Numeric) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = attribute == ATTR_MAX_VALUE ? control.maximum : control.minimum;
            return RTE_OK;
        case ATTR_INTERVAL:
            if (control.kind != ControlKind::Timer) {
                return RTE_ERR_BAD_ATTRIBUTE;
            }
            value = control.interval;
            return RTE_OK;
        default: {
            int i = 0;
            const int result = GetIntAttribute(control, attribute, i);
            if (result == RTE_OK) {
                value = i;
            }
            return result;
        }
    }
}

int GetTextAttribute(const ControlRecord& control, int attribute, std::string& value) {
    if (attribute != ATTR_LABEL_TEXT) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    value = control.label;
    return RTE_OK;
}

int GetCallbackAttribute(const ControlRecord& control, int attribute, CtrlCallbackPtr& value) {
    if (attribute != ATTR_CALLBACK_FUNCTION_POINTER) {
        return RTE_ERR_BAD_VALUE_TYPE;
    }
    value = control.callback;
    return RTE_OK;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    if (text.empty()) {
        return lines;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != 0) {
            text += '\n';
        }
        text += lines[i];
    }
    return text;
}

ControlInfo Describe(int panel, const ControlRecord& c) {
    ControlInfo info;
    info.panel = panel;
    info.id = c.id;
    info.kind = c.kind;
    info.constant = c.constant;
    info.label = c.label;
    info.left = c.left;
    info.top = c.top;
    info.width = c.width;
    info.height = c.height;
    info.follow = c.follow;
    info.style = c.style;
    info.isDouble = c.isDouble;
    info.precision = c.precision;
    if (c.kind == ControlKind::String) {
        info.value = c.text;
    } else if (c.kind == ControlKind::Numeric && c.isDouble) {
        info.value = c.doubleValue;
    } else if (HoldsNumber(c.kind)) {
        info.value = c.intValue;
    }
    info.minimum = c.minimum;
    info.maximum = c.maximum;
    info.items = c.items;
    info.selectedIndex = c.selectedIndex;
    info.onText = c.onText;
    info.offText = c.offText;
    info.lineCount = c.lines.size();
    info.firstVisibleLine = c.firstVisibleLine;
    info.dimmed = c.dimmed;
    info.visible = c.visible;
    info.tabsVisible = c.tabsVisible;
    info.pages = c.pages;
    info.pageLabels = c.pageLabels;
    info.interval = c.interval;
    info.enabled = c.enabled;
    info.hasCallback = c.callback != nullptr;
    info.callbackName = c.callbackName;
    return info;
}

PanelInfo Describe(const PanelRecord& p) {
    PanelInfo info;
    info.handle = p.handle;
    info.resourceId = p.resourceId;
    info.constant = p.constant;
    info.title = p.title;
    info.width = p.width;
    info.height = p.height;
    info.minWidth = p.minWidth;
    info.minHeight = p.minHeight;
    info.parentPanel = p.parentPanel;
    info.parentTab = p.parentTab;
    info.pageIndex = p.pageIndex;
    info.displayed = p.displayed;
    info.activeControl = p.activeControl;
    info.hasCloseCallback = p.closeCallback != nullptr;
    for (const auto& c : p.controls) {
        info.controls.push_back(c.id);
    }
    return info;
}

}  // namespace rte::detail
