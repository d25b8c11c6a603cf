#pragma once

#include <QWidget>

#include <memory>
#include <unordered_map>
#include <vector>

#include "change_queue.h"
#include "control_view.h"

namespace rte_qt {

class PanelView;
// Every panel drawn, pages included, by handle.
using PanelIndex = std::unordered_map<int, PanelView*>;

// A panel drawn from the model: a window for a top-level panel, a page
// widget inside a tab control for a tab page. Controls sit where the panel
// file puts them, in file order, and follow a resize as the file says. A
// window opens at the size and place it had when it was last closed (the
// user's settings), else at its size in the file as far as the screen
// allows, and shrinks no further than its minimum.
class PanelView final : public QWidget, public GrowingPage {
  public:
    // Builds the panel and, through its tab controls, its pages. Returns
    // null when the panel is no longer in the model.
    static std::unique_ptr<PanelView> createWindow(int panel, PanelIndex& index);

    ~PanelView() override;

    int handle() const { return handle_; }
    // False when a text box has lines left once deadline passed.
    bool apply(const ControlUpdate& update, std::chrono::steady_clock::time_point deadline);
    void grow(QSize growth) override;
    void focusControl(int control);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    PanelView(const rte::PanelInfo& info, PanelIndex& index, QWidget* parent);
    static PanelView* createPage(int panel, PanelIndex& index, QWidget* parent);

    void restoreWindowGeometry();
    QString settingsKey() const;

    int handle_;
    bool hasCloseCallback_;
    QSize designSize_;
    PanelIndex& index_;
    std::unordered_map<int, std::unique_ptr<ControlView>> controls_;
};

}  // namespace rte_qt
