// Entry points: control values, attributes and text boxes.
#include <climits>
#include <cstring>

#include "engine.h"
#include "rte_language.h"

using rte::ChangeKind;
using rte::ControlKind;
using rte::detail::ControlRecord;
using rte::detail::Engine;

namespace {

// Copies text into a caller's buffer of size bytes, always terminated.
int CopyOut(const std::string& text, char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return n < text.size() ? RTE_ERR_BUFFER_TOO_SMALL : RTE_OK;
}

int SetNumberValue(int panel, int control, double value, bool fromInt, int intValue) {
    const rte::Change change{ChangeKind::ValueChanged, panel, control, 0};
    return Engine::Get().withControl(
        panel, control,
        [&](ControlRecord& c) { return rte::detail::SetNumber(c, value, fromInt, intValue); },
        &change);
}

template <class Setter>
int SetAttribute(int panel, int control, int attribute, Setter&& set) {
    const rte::Change change{ChangeKind::AttributeChanged, panel, control, attribute};
    return Engine::Get().withControl(
        panel, control,
        [&](ControlRecord& c) {
            const int result = set(c);
            if (result == RTE_OK && (attribute == ATTR_INTERVAL || attribute == ATTR_ENABLED)) {
                Engine::Get().timerControlChanged(c);
            }
            return result;
        },
        &change);
}

}  // namespace

int SetCtrlVal(int panel, int control, int value) {
    return SetNumberValue(panel, control, value, true, value);
}

int SetCtrlVal(int panel, int control, unsigned int value) {
    const int asInt =
        value > static_cast<unsigned int>(INT_MAX) ? INT_MAX : static_cast<int>(value);
    return SetNumberValue(panel, control, value, true, asInt);
}

int SetCtrlVal(int panel, int control, double value) {
    return SetNumberValue(panel, control, value, false, 0);
}

int SetCtrlVal(int panel, int control, const char* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    bool textBox = false;
    const int result = Engine::Get().withControl(panel, control, [&](ControlRecord& c) {
        textBox = c.kind == ControlKind::TextBox;
        return rte::detail::SetText(c, RTE_Translate(value));
    });
    if (result == RTE_OK) {
        Engine::Get().notify(
            {textBox ? ChangeKind::LinesReset : ChangeKind::ValueChanged, panel, control, 0});
    }
    return result;
}

int GetCtrlVal(int panel, int control, int* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(
        panel, control, [&](const ControlRecord& c) { return rte::detail::GetInt(c, *value); });
}

int GetCtrlVal(int panel, int control, unsigned int* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    double d = 0;
    const int result = GetCtrlVal(panel, control, &d);
    if (result == RTE_OK) {
        *value = d <= 0 ? 0u : d >= 4294967295.0 ? UINT_MAX : static_cast<unsigned int>(d + 0.5);
    }
    return result;
}

int GetCtrlVal(int panel, int control, double* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(
        panel, control, [&](const ControlRecord& c) { return rte::detail::GetDouble(c, *value); });
}

int GetCtrlVal(int panel, int control, char* value, std::size_t size) {
    if (value == nullptr || size == 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::string text;
    const int result = Engine::Get().readControl(
        panel, control, [&](const ControlRecord& c) { return rte::detail::GetText(c, text); });
    if (result != RTE_OK) {
        value[0] = '\0';
        return result;
    }
    return CopyOut(text, value, size);
}

int GetCtrlValStringLength(int panel, int control, int* length) {
    if (length == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::string text;
    const int result = Engine::Get().readControl(
        panel, control, [&](const ControlRecord& c) { return rte::detail::GetText(c, text); });
    if (result == RTE_OK) {
        *length = text.size() > INT_MAX ? INT_MAX : static_cast<int>(text.size());
    }
    return result;
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return SetAttribute(panel, control, attribute, [&](ControlRecord& c) {
        return rte::detail::SetIntAttribute(c, attribute, value);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, unsigned int value) {
    return SetAttribute(panel, control, attribute, [&](ControlRecord& c) {
        return rte::detail::SetDoubleAttribute(c, attribute, static_cast<double>(value));
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    return SetAttribute(panel, control, attribute, [&](ControlRecord& c) {
        return rte::detail::SetDoubleAttribute(c, attribute, value);
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, const char* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return SetAttribute(panel, control, attribute, [&](ControlRecord& c) {
        return rte::detail::SetTextAttribute(c, attribute, RTE_Translate(value));
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value) {
    return SetAttribute(panel, control, attribute, [&](ControlRecord& c) {
        return rte::detail::SetCallbackAttribute(c, attribute, value);
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        return rte::detail::GetIntAttribute(c, attribute, *value);
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        return rte::detail::GetDoubleAttribute(c, attribute, *value);
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, char* value, std::size_t size) {
    if (value == nullptr || size == 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::string text;
    const int result = Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        return rte::detail::GetTextAttribute(c, attribute, text);
    });
    if (result != RTE_OK) {
        value[0] = '\0';
        return result;
    }
    return CopyOut(text, value, size);
}

int GetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr* value) {
    if (value == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        return rte::detail::GetCallbackAttribute(c, attribute, *value);
    });
}

int ClearListCtrl(int panel, int control) {
    const rte::Change change{ChangeKind::ValueChanged, panel, control, 0};
    return Engine::Get().withControl(
        panel, control, [](ControlRecord& c) { return rte::detail::ClearItems(c); }, &change);
}

int InsertListItem(int panel, int control, int itemIndex, const char* itemLabel, int itemValue) {
    if (itemLabel == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    const std::string label = RTE_Translate(itemLabel);
    const rte::Change change{ChangeKind::ValueChanged, panel, control, 0};
    return Engine::Get().withControl(
        panel, control,
        [&](ControlRecord& c) { return rte::detail::InsertItem(c, itemIndex, label, itemValue); },
        &change);
}

int GetNumListItems(int panel, int control, int* count) {
    if (count == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        if (c.kind != ControlKind::Ring) {
            return RTE_ERR_BAD_CONTROL;
        }
        *count = static_cast<int>(c.items.size());
        return RTE_OK;
    });
}

int InsertTextBoxLine(int panel, int control, int lineIndex, const char* text) {
    if (text == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    text = RTE_Translate(text);
    bool appended = true;
    const int result = Engine::Get().withControl(panel, control, [&](ControlRecord& c) {
        if (c.kind != ControlKind::TextBox) {
            return RTE_ERR_BAD_CONTROL;
        }
        if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= c.lines.size()) {
            c.lines.emplace_back(text);
        } else {
            c.lines.insert(c.lines.begin() + lineIndex, text);
            ++c.generation;
            appended = false;
        }
        return RTE_OK;
    });
    if (result == RTE_OK) {
        Engine::Get().notify(
            {appended ? ChangeKind::LinesAppended : ChangeKind::LinesReset, panel, control, 0});
    }
    return result;
}

namespace {

// Edits the lines of a text box; the front ends redraw it whole.
template <typename Edit>
int EditTextBoxLines(int panel, int control, Edit edit) {
    const int result = Engine::Get().withControl(panel, control, [&](ControlRecord& c) {
        if (c.kind != ControlKind::TextBox) {
            return RTE_ERR_BAD_CONTROL;
        }
        if (!edit(c.lines)) {
            return RTE_ERR_BAD_ARGUMENT;
        }
        ++c.generation;
        return RTE_OK;
    });
    if (result == RTE_OK) {
        Engine::Get().notify({ChangeKind::LinesReset, panel, control, 0});
    }
    return result;
}

}  // namespace

int ReplaceTextBoxLine(int panel, int control, int lineIndex, const char* text) {
    if (text == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return EditTextBoxLines(panel, control, [&](std::vector<std::string>& lines) {
        if (lineIndex < 0 || static_cast<std::size_t>(lineIndex) >= lines.size()) {
            return false;
        }
        lines[static_cast<std::size_t>(lineIndex)] = text;
        return true;
    });
}

int DeleteTextBoxLines(int panel, int control, int firstLine, int count) {
    return EditTextBoxLines(panel, control, [&](std::vector<std::string>& lines) {
        if (firstLine < 0 || count < 0 ||
            static_cast<std::size_t>(firstLine) + static_cast<std::size_t>(count) > lines.size()) {
            return false;
        }
        lines.erase(lines.begin() + firstLine, lines.begin() + firstLine + count);
        return true;
    });
}

int GetNumTextBoxLines(int panel, int control, int* count) {
    if (count == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        if (c.kind != ControlKind::TextBox) {
            return RTE_ERR_BAD_CONTROL;
        }
        *count = c.lines.size() > INT_MAX ? INT_MAX : static_cast<int>(c.lines.size());
        return RTE_OK;
    });
}

int ResetTextBox(int panel, int control, const char* text) {
    if (text == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    const rte::Change change{ChangeKind::LinesReset, panel, control, 0};
    return Engine::Get().withControl(
        panel, control,
        [&](ControlRecord& c) {
            if (c.kind != ControlKind::TextBox) {
                return RTE_ERR_BAD_CONTROL;
            }
            c.lines = rte::detail::SplitLines(RTE_Translate(text));
            c.firstVisibleLine = 0;
            ++c.generation;
            return RTE_OK;
        },
        &change);
}
