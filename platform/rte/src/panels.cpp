// Making panels from the panel file, showing and discarding them.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine.h"
#include "rte_callbacks.h"

namespace rte::detail {

namespace {

std::string ReadWholeFile(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ok = static_cast<bool>(in) || in.eof();
    return text.str();
}

// Binds a callback name, or appends a note naming it to unknown.
CtrlCallbackPtr Bind(const std::string& name, const std::string& where, std::string& unknown) {
    if (name.empty()) {
        return nullptr;
    }
    CtrlCallbackPtr fn = RTE_FindCallback(name.c_str());
    if (fn == nullptr) {
        unknown +=
            (unknown.empty() ? "" : "; ") + where + ": callback \"" + name + "\" is not registered";
    }
    return fn;
}

}  // namespace

void Engine::failLoad(const std::string& message) {
    SetLastErrorText(message);
    std::fprintf(stderr, "chipload: %s\n", message.c_str());
}

// Records for a panel and, recursively, its tab pages, in made; handles are
// assigned by the caller under the model lock, indices stand in for them here.
int Engine::instantiate(const PanelTemplate& t, int parent, int parentTab, int pageIndex,
                        std::vector<PanelRecord>& made, std::string& unknown) {
    const int index = static_cast<int>(made.size());
    made.push_back(t.panel);
    {
        PanelRecord& p = made.back();
        p.parentPanel = parent;
        p.parentTab = parentTab;
        p.pageIndex = pageIndex;
        p.closeCallback = Bind(p.closeCallbackName, "panel " + p.constant, unknown);
        const auto now = std::chrono::steady_clock::now();
        for (auto& c : p.controls) {
            c.callback =
                Bind(c.callbackName, "panel " + p.constant + ", control " + c.constant, unknown);
            c.nextTick = now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                   std::chrono::duration<double>(std::max(c.interval, 0.001)));
        }
    }
    for (const auto& tab : t.tabs) {
        std::vector<int> pages;
        for (std::size_t i = 0; i < tab.pages.size(); ++i) {
            pages.push_back(instantiate(tab.pages[i], index, tab.tabControl, static_cast<int>(i),
                                        made, unknown));
        }
        made[static_cast<std::size_t>(index)].find(tab.tabControl)->pages = pages;
    }
    return index;
}

int Engine::loadPanel(const std::string& fileName, int resourceId) {
    std::string tried;
    const std::string path = FindPanelFile(fileName, tried);
    if (path.empty()) {
        failLoad("panel file \"" + fileName + "\" not found (looked for " + tried + ")");
        return RTE_ERR_FILE_NOT_FOUND;
    }
    bool readOk = false;
    const std::string text = ReadWholeFile(path, readOk);
    if (!readOk) {
        failLoad(path + ": cannot be read");
        return RTE_ERR_FILE_NOT_FOUND;
    }
    std::vector<PanelTemplate> templates;
    std::string error;
    if (ParsePanelFile(text, templates, error) != RTE_OK) {
        failLoad(path + ": " + error);
        return RTE_ERR_BAD_PANEL_FILE;
    }
    const PanelTemplate* chosen = nullptr;
    for (const auto& t : templates) {
        if (t.panel.resourceId == resourceId) {
            chosen = &t;
        }
    }
    if (chosen == nullptr) {
        failLoad(path + ": there is no panel with ID " + std::to_string(resourceId));
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::vector<PanelRecord> made;
    std::string unknown;
    instantiate(*chosen, -1, 0, -1, made, unknown);
    if (!unknown.empty()) {
        failLoad(path + ": " + unknown);
        return RTE_ERR_UNKNOWN_CALLBACK;
    }
    int top;
    {
        std::lock_guard lock(modelMutex_);
        std::vector<int> handles;
        for (std::size_t i = 0; i < made.size(); ++i) {
            handles.push_back(nextHandle_++);
        }
        for (auto& p : made) {
            p.handle = handles[static_cast<std::size_t>(&p - made.data())];
            p.parentPanel =
                p.parentPanel < 0 ? 0 : handles[static_cast<std::size_t>(p.parentPanel)];
            for (auto& c : p.controls) {
                for (int& page : c.pages) {
                    page = handles[static_cast<std::size_t>(page)];
                }
            }
        }
        top = handles.front();
        for (auto& p : made) {
            const int handle = p.handle;
            panels_.emplace(handle, std::move(p));
        }
    }
    timerCv_.notify_all();
    SetLastErrorText("");
    return top;
}

int Engine::displayPanel(int panel) {
    {
        std::lock_guard lock(modelMutex_);
        const auto p = panels_.find(panel);
        if (p == panels_.end()) {
            return RTE_ERR_BAD_PANEL;
        }
        p->second.displayed = true;
    }
    notify({ChangeKind::PanelDisplayed, panel, 0, 0});
    return RTE_OK;
}

int Engine::setActiveControl(int panel, int control) {
    {
        std::lock_guard lock(modelMutex_);
        const auto p = panels_.find(panel);
        if (p == panels_.end()) {
            return RTE_ERR_BAD_PANEL;
        }
        const ControlRecord* c = p->second.find(control);
        if (c == nullptr || c->kind == ControlKind::Timer || c->kind == ControlKind::Decoration) {
            return RTE_ERR_BAD_CONTROL;
        }
        p->second.activeControl = control;
    }
    notify({ChangeKind::ActiveControlChanged, panel, control, 0});
    return RTE_OK;
}

int Engine::discardPanel(int panel) {
    {
        std::lock_guard lock(modelMutex_);
        const auto p = panels_.find(panel);
        if (p == panels_.end()) {
            return RTE_ERR_BAD_PANEL;
        }
        if (p->second.parentPanel != 0) {
            return RTE_ERR_BAD_PANEL;  // pages go with their panel
        }
        std::vector<int> doomed{panel};
        for (std::size_t i = 0; i < doomed.size(); ++i) {
            for (const auto& c : panels_.at(doomed[i]).controls) {
                doomed.insert(doomed.end(), c.pages.begin(), c.pages.end());
            }
        }
        for (const int handle : doomed) {
            panels_.erase(handle);
        }
    }
    notify({ChangeKind::PanelDiscarded, panel, 0, 0});
    return RTE_OK;
}

int Engine::tabPage(int panel, int tabControl, int pageIndex, int* pageHandle) const {
    if (pageHandle == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    return readControl(panel, tabControl, [&](const ControlRecord& c) {
        if (c.kind != ControlKind::Tab) {
            return RTE_ERR_BAD_CONTROL;
        }
        if (pageIndex < 0 || static_cast<std::size_t>(pageIndex) >= c.pages.size()) {
            return RTE_ERR_BAD_ARGUMENT;
        }
        *pageHandle = c.pages[static_cast<std::size_t>(pageIndex)];
        return RTE_OK;
    });
}

std::vector<int> Engine::panelHandles() const {
    std::lock_guard lock(modelMutex_);
    std::vector<int> order;
    for (const auto& [handle, panel] : panels_) {
        if (panel.parentPanel == 0) {
            order.push_back(handle);
        }
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (const auto& c : panels_.at(order[i]).controls) {
            order.insert(order.end(), c.pages.begin(), c.pages.end());
        }
    }
    return order;
}

std::optional<PanelInfo> Engine::panelInfo(int panel) const {
    std::lock_guard lock(modelMutex_);
    const auto p = panels_.find(panel);
    if (p == panels_.end()) {
        return std::nullopt;
    }
    return Describe(p->second);
}

}  // namespace rte::detail
