// Reading the panel file: a JSON document of panels, their controls and the
// callbacks they name (format in ui/README.md). Loading checks the whole
// file; callbacks are bound later, when a panel is made from its template.
#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace rte::detail {

struct PanelTemplate;

struct TabPages {
    int tabControl = 0;
    std::vector<PanelTemplate> pages;
};

struct PanelTemplate {
    PanelRecord panel;
    std::vector<TabPages> tabs;
};

// Finds a relative file name beside the executable, then in the install's
// data folder (relative to the executable, then under the built-for prefix);
// an absolute or explicitly relative ("./x") name is used as given. Returns the path found, or ""
// with the places looked at in tried.
std::string FindPanelFile(const std::string& fileName, std::string& tried);

// Parses the panel file text. RTE_OK, or RTE_ERR_BAD_PANEL_FILE with a
// message naming the place (line and column, or the panel and control).
int ParsePanelFile(const std::string& text, std::vector<PanelTemplate>& panels, std::string& error);

}  // namespace rte::detail
