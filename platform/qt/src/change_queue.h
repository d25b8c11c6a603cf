#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rte_frontend.h"

namespace rte_qt {

// What must be redrawn for one control since the last flush.
struct ControlUpdate {
    int panel = 0;
    int control = 0;
    bool state = false;   // value or any attribute other than the first visible line
    bool lines = false;   // a text box's lines (appended or reset)
    bool scroll = false;  // a text box's first visible line was set
};

struct UpdateBatch {
    std::vector<rte::Change> panelChanges;  // displayed / discarded, in order
    std::vector<ControlUpdate> controls;    // one entry per control, first-change order
};

// Collects model changes from any thread and coalesces them per control, so
// that a worker appending thousands of lines costs the window one redraw per
// turn of its event loop. The first change after a flush calls schedule()
// (outside the lock); the window's thread then takes the batch.
class ChangeQueue {
  public:
    explicit ChangeQueue(std::function<void()> schedule) : schedule_(std::move(schedule)) {}

    void add(const rte::Change& change);
    UpdateBatch take();

  private:
    std::function<void()> schedule_;
    std::mutex mutex_;
    bool scheduled_ = false;
    UpdateBatch pending_;
    std::unordered_map<std::uint64_t, std::size_t> indexByControl_;
};

}  // namespace rte_qt
