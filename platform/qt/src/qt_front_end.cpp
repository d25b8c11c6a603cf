#include "qt_front_end.h"

#include <QFont>
#include <QThread>

#include <cstdio>

#include "popups.h"
#include "rte_qt.h"

namespace rte_qt {

QtFrontEnd::QtFrontEnd(std::unique_ptr<QApplication> ownedApp)
    : ownedApp_(std::move(ownedApp)), context_(std::make_unique<QObject>()), changes_([this] {
          QMetaObject::invokeMethod(
              context_.get(), [this] { flushChanges(); }, Qt::QueuedConnection);
      }) {}

QtFrontEnd::~QtFrontEnd() {
    windows_.clear();
}

bool QtFrontEnd::start() {
    return onWindowThreadBlocking([] {
        // The panel's texts are Chinese: prefer a CJK face over whatever the
        // platform picks first, at a size the panel layout was drawn for.
        QFont font = QApplication::font();
        font.setFamilies({QStringLiteral("Noto Sans CJK SC"), font.family()});
        font.setPixelSize(12);
        QApplication::setFont(font);
        return true;
    });
}

void QtFrontEnd::stop() {
    onWindowThreadBlocking([this] {
        windows_.clear();
        windowHandle_ = 0;
        return 0;
    });
}

void QtFrontEnd::runLoop() {
    // A quit that came before the loop ends it at once.
    if (quitPending_.exchange(false)) {
        return;
    }
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
}

void QtFrontEnd::quitLoop() {
    // Queued even on the window's thread, so that a callback asking to quit
    // finishes before the loop ends; left pending when no loop runs yet.
    quitPending_ = true;
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            if (loop_ != nullptr && quitPending_.exchange(false)) {
                loop_->quit();
            }
        },
        Qt::QueuedConnection);
}

void QtFrontEnd::wake() {
    if (wakePending_.exchange(true)) {
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            wakePending_ = false;
            rte::PumpEvents();
        },
        Qt::QueuedConnection);
}

void QtFrontEnd::processFrontEndEvents() {
    QCoreApplication::processEvents();
}

void QtFrontEnd::changed(const rte::Change& change) {
    changes_.add(change);
}

void QtFrontEnd::flushChanges() {
    const UpdateBatch batch = changes_.take();
    for (const rte::Change& change : batch.panelChanges) {
        applyPanelChange(change);
    }
    // About a third of a frame of appending per turn of the loop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
    for (const ControlUpdate& update : batch.controls) {
        const auto view = index_.find(update.panel);
        if (view != index_.end() && !view->second->apply(update, deadline)) {
            changes_.add({rte::ChangeKind::LinesAppended, update.panel, update.control});
        }
    }
}

void QtFrontEnd::applyPanelChange(const rte::Change& change) {
    if (change.kind == rte::ChangeKind::ActiveControlChanged) {
        // A panel not drawn yet takes its active control when it is.
        const auto view = index_.find(change.panel);
        if (view != index_.end()) {
            view->second->focusControl(change.control);
        }
        return;
    }
    if (change.kind == rte::ChangeKind::PanelDiscarded) {
        const auto window = windows_.find(change.panel);
        if (window != windows_.end()) {
            if (windowHandle_ == static_cast<std::intptr_t>(window->second->winId())) {
                windowHandle_ = 0;
            }
            windows_.erase(window);
        }
        return;
    }
    const auto info = rte::Panel(change.panel);
    if (!info || info->parentPanel != 0) {
        // Pages are drawn inside their parent's window.
        return;
    }
    auto& window = windows_[change.panel];
    const bool firstShow = !window;
    if (!window) {
        window = PanelView::createWindow(change.panel, index_);
        if (!window) {
            windows_.erase(change.panel);
            return;
        }
    }
    if (window->isVisible()) {
        window->raise();
    } else {
        window->show();
    }
    if (firstShow && info->activeControl != 0) {
        window->focusControl(info->activeControl);
    }
    if (windowHandle_ == 0) {
        windowHandle_ = static_cast<std::intptr_t>(window->winId());
    }
}

// Stacked over what the operator is looking at: the modal dialog on top (a
// second pop-up over the first), else a panel window. Whatever window merely
// has the focus may be one that is closing or hidden, and a dialog kept above
// it can end up under the panel, out of sight, still blocking every click.
QWidget* QtFrontEnd::dialogParent() const {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != nullptr && modal->isVisible()) {
        return modal;
    }
    for (const auto& [handle, window] : windows_) {
        if (window->isVisible()) {
            return window.get();
        }
    }
    return nullptr;
}

bool QtFrontEnd::onWindowThread() const {
    return QThread::currentThread() == context_->thread();
}

template <typename Task>
auto QtFrontEnd::onWindowThreadBlocking(Task task) -> decltype(task()) {
    if (onWindowThread()) {
        return task();
    }
    decltype(task()) result{};
    QMetaObject::invokeMethod(
        context_.get(), [&] { result = task(); }, Qt::BlockingQueuedConnection);
    return result;
}

template <typename Popup>
auto QtFrontEnd::runPopup(Popup popup) -> decltype(popup(nullptr)) {
    return onWindowThreadBlocking([&] {
        // Window changes made while the caller composed the pop-up show
        // before it does.
        flushChanges();
        const rte::PopupOnScreen shown;
        return popup(dialogParent());
    });
}

void QtFrontEnd::messagePopup(const rte::MessageRequest& request) {
    runPopup([&](QWidget* parent) {
        showMessagePopup(request, parent);
        return 0;
    });
}

rte::GenericAnswer QtFrontEnd::genericMessagePopup(const rte::GenericRequest& request) {
    return runPopup([&](QWidget* parent) { return showGenericPopup(request, parent); });
}

rte::FileAnswer QtFrontEnd::fileSelectPopup(const rte::FileRequest& request) {
    return runPopup([&](QWidget* parent) { return showFilePopup(request, parent); });
}

void QtFrontEnd::beep() {
    QMetaObject::invokeMethod(
        context_.get(), [] { QApplication::beep(); }, Qt::QueuedConnection);
}

std::intptr_t QtFrontEnd::windowHandle() const {
    return windowHandle_;
}

}  // namespace rte_qt

int RTE_InstallQtFrontEnd(int* argc, char** argv) {
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "ChipLoad: no display to draw the window on; set DISPLAY (or "
                     "QT_QPA_PLATFORM=offscreen to run without one)\n");
        return -1;
    }
    std::unique_ptr<QApplication> app;
    if (QApplication::instance() == nullptr) {
        app = std::make_unique<QApplication>(*argc, argv);
    }
    RTE_InstallFrontEnd(std::make_shared<rte_qt::QtFrontEnd>(std::move(app)));
    return 0;
}
