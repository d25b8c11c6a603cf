#include "panel_view.h"

#include <QCloseEvent>
#include <QScreen>

#include <algorithm>

#include "window_settings.h"

namespace rte_qt {

std::unique_ptr<PanelView> PanelView::createWindow(int panel, PanelIndex& index) {
    const auto info = rte::Panel(panel);
    if (!info) {
        return nullptr;
    }
    std::unique_ptr<PanelView> view(new PanelView(*info, index, nullptr));
    view->setWindowTitle(QString::fromStdString(info->title));
    view->setMinimumSize(info->minWidth, info->minHeight);
    view->restoreWindowGeometry();
    return view;
}

PanelView* PanelView::createPage(int panel, PanelIndex& index, QWidget* parent) {
    const auto info = rte::Panel(panel);
    if (!info) {
        // A page discarded while its parent was being drawn: an empty page.
        return new PanelView(rte::PanelInfo{}, index, parent);
    }
    return new PanelView(*info, index, parent);
}

PanelView::PanelView(const rte::PanelInfo& info, PanelIndex& index, QWidget* parent)
    : QWidget(parent),
      handle_(info.handle),
      hasCloseCallback_(info.hasCloseCallback),
      designSize_(info.width, info.height),
      index_(index) {
    setObjectName(QString::fromStdString(info.constant));
    if (handle_ != 0) {
        index_[handle_] = this;
    }
    const PageFactory pages = [&index](int page, QWidget* tabs) {
        return createPage(page, index, tabs);
    };
    for (const int id : info.controls) {
        const auto control = rte::Control(handle_, id);
        if (!control) {
            continue;
        }
        auto view = makeControlView(*control, this, pages);
        if (!view) {
            continue;
        }
        view->refresh(*control);
        // A box that is filled before the window shows is filled whole.
        view->syncLines(std::chrono::steady_clock::time_point::max());
        view->scrollTo(*control);
        controls_[id] = std::move(view);
    }
}

PanelView::~PanelView() {
    if (isWindow() && handle_ != 0) {
        saveWindowGeometry(settingsKey(), saveGeometry());
    }
    // Pages are children and go with this widget; each unregisters itself.
    if (handle_ != 0) {
        index_.erase(handle_);
    }
}

bool PanelView::apply(const ControlUpdate& update, std::chrono::steady_clock::time_point deadline) {
    const auto found = controls_.find(update.control);
    if (found == controls_.end()) {
        return true;
    }
    ControlView& view = *found->second;
    const auto info = rte::Control(handle_, update.control);
    if (!info) {
        return true;
    }
    bool complete = true;
    if (update.state) {
        view.refresh(*info);
    }
    if (update.lines) {
        complete = view.syncLines(deadline);
    }
    if (update.scroll) {
        view.scrollTo(*info);
    }
    return complete;
}

void PanelView::restoreWindowGeometry() {
    if (restoreGeometry(savedWindowGeometry(settingsKey()))) {
        return;
    }
    // First run: the file's size, unless the screen is smaller (a high
    // scale factor); room is left for the window's frame and a desktop bar.
    QSize size = designSize_;
    if (const QScreen* shown = screen()) {
        const QSize room = shown->availableGeometry().size() - QSize(16, 64);
        size = size.boundedTo(room).expandedTo(minimumSize());
    }
    resize(size);
}

QString PanelView::settingsKey() const {
    return objectName();
}

void PanelView::focusControl(int control) {
    const auto view = controls_.find(control);
    if (view != controls_.end()) {
        view->second->takeFocus();
    }
}

void PanelView::grow(QSize growth) {
    for (auto& [id, view] : controls_) {
        view->place(growth);
    }
}

void PanelView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (isWindow()) {
        grow(size() - designSize_);
    }
}

void PanelView::closeEvent(QCloseEvent* event) {
    // The program decides whether its window closes; the close button only
    // tells the panel's close callback.
    event->ignore();
    if (hasCloseCallback_) {
        rte::UserClosePanel(handle_);
    }
}

}  // namespace rte_qt
