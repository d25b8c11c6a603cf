#pragma once

#include <memory>

#include "control_view.h"

namespace rte_qt {

// A text box: a plain-text editor that takes appended lines in batches, so
// that tens of thousands of log lines neither slow the window nor the
// thread that writes them.
std::unique_ptr<ControlView> makeTextBoxView(const rte::ControlInfo& info, QWidget* parent);

}  // namespace rte_qt
