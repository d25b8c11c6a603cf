#include "input_history.h"

#include "engine.h"
#include "model.h"

namespace rte::detail {

void InputHistory::add(const std::string& text) {
    if (!text.empty() && (entries_.empty() || entries_.back() != text)) {
        if (entries_.size() == kMaxEntries) {
            entries_.erase(entries_.begin());
        }
        entries_.push_back(text);
    }
    cursor_ = entries_.size();
    draft_.clear();
}

std::optional<std::string> InputHistory::recall(int step, const std::string& current) {
    if (step < 0) {
        if (cursor_ == 0) {
            return std::nullopt;
        }
        if (cursor_ == entries_.size()) {
            draft_ = current;
        }
        return entries_[--cursor_];
    }
    if (step == 0 || cursor_ >= entries_.size()) {
        return std::nullopt;
    }
    return ++cursor_ == entries_.size() ? draft_ : entries_[cursor_];
}

}  // namespace rte::detail

using rte::detail::ControlRecord;
using rte::detail::Engine;

int AddCtrlHistory(int panel, int control, const char* text) {
    if (text == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return Engine::Get().withControl(panel, control, [&](ControlRecord& c) -> int {
        if (c.kind != rte::ControlKind::TextBox && c.kind != rte::ControlKind::String) {
            return RTE_ERR_BAD_CONTROL;
        }
        c.history.add(text);
        return RTE_OK;
    });
}

namespace rte {

int UserRecallHistory(int panel, int control, int step) {
    bool recalled = false;
    bool textBox = false;
    const int result = Engine::Get().withControl(panel, control, [&](ControlRecord& c) -> int {
        std::string current;
        if (const int read = detail::GetText(c, current); read != RTE_OK) {
            return read;
        }
        const std::optional<std::string> text = c.history.recall(step, current);
        if (!text) {
            return RTE_OK;
        }
        textBox = c.kind == ControlKind::TextBox;
        recalled = true;
        return detail::SetText(c, *text);
    });
    if (result == RTE_OK && recalled) {
        Engine::Get().notify(
            {textBox ? ChangeKind::LinesReset : ChangeKind::ValueChanged, panel, control, 0});
    }
    return result != RTE_OK ? result : (recalled ? 1 : 0);
}

}  // namespace rte
