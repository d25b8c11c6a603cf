#include "change_queue.h"

namespace rte_qt {

namespace {

std::uint64_t keyOf(int panel, int control) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(panel)) << 32) |
           static_cast<std::uint32_t>(control);
}

}  // namespace

void ChangeQueue::add(const rte::Change& change) {
    bool mustSchedule = false;
    {
        std::lock_guard lock(mutex_);
        if (change.kind == rte::ChangeKind::PanelDisplayed ||
            change.kind == rte::ChangeKind::PanelDiscarded ||
            change.kind == rte::ChangeKind::ActiveControlChanged) {
            pending_.panelChanges.push_back(change);
        } else {
            const auto [it, inserted] = indexByControl_.try_emplace(
                keyOf(change.panel, change.control), pending_.controls.size());
            if (inserted) {
                pending_.controls.push_back({change.panel, change.control});
            }
            ControlUpdate& update = pending_.controls[it->second];
            switch (change.kind) {
                case rte::ChangeKind::LinesAppended:
                case rte::ChangeKind::LinesReset:
                    update.lines = true;
                    break;
                case rte::ChangeKind::AttributeChanged:
                    if (change.attribute == ATTR_FIRST_VISIBLE_LINE) {
                        update.scroll = true;
                    } else {
                        update.state = true;
                    }
                    break;
                default:
                    // A text box's text being replaced is a change of its lines too.
                    update.state = true;
                    update.lines = true;
                    break;
            }
        }
        if (!scheduled_) {
            scheduled_ = true;
            mustSchedule = true;
        }
    }
    if (mustSchedule) {
        schedule_();
    }
}

UpdateBatch ChangeQueue::take() {
    std::lock_guard lock(mutex_);
    scheduled_ = false;
    indexByControl_.clear();
    return std::exchange(pending_, {});
}

}  // namespace rte_qt
