// What front ends call: model copies and the operator's actions.
#include "engine.h"

namespace rte {

using detail::ControlRecord;
using detail::Engine;
using detail::Event;

const char* ControlKindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Numeric:
            return "numeric";
        case ControlKind::String:
            return "string";
        case ControlKind::TextBox:
            return "textbox";
        case ControlKind::Ring:
            return "ring";
        case ControlKind::Led:
            return "led";
        case ControlKind::Toggle:
            return "toggle";
        case ControlKind::Switch:
            return "switch";
        case ControlKind::Button:
            return "button";
        case ControlKind::Tab:
            return "tab";
        case ControlKind::Timer:
            return "timer";
        case ControlKind::Decoration:
            return "decoration";
    }
    return "";
}

std::vector<int> Panels() {
    return Engine::Get().panelHandles();
}

std::optional<PanelInfo> Panel(int panel) {
    return Engine::Get().panelInfo(panel);
}

std::optional<ControlInfo> Control(int panel, int control) {
    std::optional<ControlInfo> info;
    Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        info = detail::Describe(panel, c);
        return RTE_OK;
    });
    return info;
}

std::optional<TextBoxDelta> ReadTextBox(int panel, int control, std::uint64_t knownGeneration,
                                        std::size_t knownCount) {
    std::optional<TextBoxDelta> delta;
    Engine::Get().readControl(panel, control, [&](const ControlRecord& c) {
        if (c.kind != ControlKind::TextBox) {
            return RTE_ERR_BAD_CONTROL;
        }
        TextBoxDelta d;
        d.generation = c.generation;
        d.reset = knownGeneration != c.generation || knownCount > c.lines.size();
        d.firstLine = d.reset ? 0 : knownCount;
        d.lines.assign(c.lines.begin() + static_cast<std::ptrdiff_t>(d.firstLine), c.lines.end());
        delta = std::move(d);
        return RTE_OK;
    });
    return delta;
}

int UserSetValue(int panel, int control, const Value& value) {
    if (const int* i = std::get_if<int>(&value)) {
        return SetCtrlVal(panel, control, *i);
    }
    if (const double* d = std::get_if<double>(&value)) {
        return SetCtrlVal(panel, control, *d);
    }
    if (const std::string* s = std::get_if<std::string>(&value)) {
        return SetCtrlVal(panel, control, s->c_str());
    }
    return RTE_ERR_BAD_ARGUMENT;
}

int UserSelectIndex(int panel, int control, int index) {
    const Change change{ChangeKind::ValueChanged, panel, control, 0};
    return Engine::Get().withControl(
        panel, control, [&](ControlRecord& c) { return detail::SelectIndex(c, index); }, &change);
}

int PostControlEvent(int panel, int control, int event, int eventData1, int eventData2) {
    const int found =
        Engine::Get().readControl(panel, control, [](const ControlRecord&) { return RTE_OK; });
    if (found != RTE_OK) {
        return found;
    }
    Engine::Get().post({Event::Type::Control, panel, control, event, eventData1, eventData2});
    return RTE_OK;
}

int UserCommit(int panel, int control, const Value& value) {
    if (!std::holds_alternative<std::monostate>(value)) {
        const int result = UserSetValue(panel, control, value);
        if (result != RTE_OK) {
            return result;
        }
    }
    return PostControlEvent(panel, control, EVENT_COMMIT);
}

int UserClick(int panel, int control) {
    const Change change{ChangeKind::ValueChanged, panel, control, 0};
    const int result = Engine::Get().withControl(
        panel, control,
        [](ControlRecord& c) {
            if (c.kind == ControlKind::Toggle || c.kind == ControlKind::Switch) {
                c.intValue = c.intValue != 0 ? 0 : 1;
            }
            return RTE_OK;
        },
        &change);
    if (result != RTE_OK) {
        return result;
    }
    PostControlEvent(panel, control, EVENT_LEFT_CLICK);
    return PostControlEvent(panel, control, EVENT_COMMIT);
}

int UserClosePanel(int panel) {
    const auto info = Engine::Get().panelInfo(panel);
    if (!info) {
        return RTE_ERR_BAD_PANEL;
    }
    if (!info->hasCloseCallback) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Engine::Get().post({Event::Type::PanelClose, panel, 0, EVENT_COMMIT});
    return RTE_OK;
}

bool WaitForEventsProcessed(std::chrono::milliseconds timeout) {
    return Engine::Get().waitProcessed(timeout);
}

ButtonLabel ParseButtonLabel(const std::string& label) {
    ButtonLabel out;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label.compare(i, 2, "__") == 0 && i + 2 < label.size()) {
            if (out.shortcut == 0) {
                out.shortcut = label[i + 2];
            }
            ++i;  // drop both underscores; the letter itself stays
            continue;
        }
        out.text += label[i];
    }
    return out;
}

void PumpEvents() {
    Engine::Get().pump();
}

bool OnUserInterfaceThread() {
    return Engine::Get().onUiThread();
}

}  // namespace rte
