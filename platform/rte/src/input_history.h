// What was entered into a text control before, recalled with the up and down
// keys as shells and terminals do. The entry being typed is kept as a draft
// and comes back when the operator walks past the newest entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rte::detail {

class InputHistory {
  public:
    static constexpr std::size_t kMaxEntries = 100;

    // A repeat of the newest entry and an empty text are not kept again.
    void add(const std::string& text);
    // step < 0 goes to older entries, step > 0 to newer ones; `current` is
    // the control's text now. The text to show, or nothing at either end.
    std::optional<std::string> recall(int step, const std::string& current);

  private:
    std::vector<std::string> entries_;
    std::size_t cursor_ = 0;  // entries_.size(): at the draft
    std::string draft_;
};

}  // namespace rte::detail
