#pragma once

#include <string>
#include <vector>

#include "rte.h"

namespace rte_qt {

struct PanelCallbackNames {
    std::vector<std::string> controls;  // every "callback" the file names
    std::vector<std::string> closes;    // every "close_callback"
};

// Reads the callback names a panel file binds, so that a viewer can load the
// panel without the program behind it. Throws std::runtime_error when the
// file cannot be read or is not JSON.
PanelCallbackNames ReadPanelCallbackNames(const std::string& path);

// Registers function under each name (replacing what was there).
void RegisterCallbacks(const std::vector<std::string>& names, CtrlCallbackPtr function);

}  // namespace rte_qt
