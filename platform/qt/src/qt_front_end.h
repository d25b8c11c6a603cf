#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QObject>

#include <atomic>
#include <map>
#include <memory>

#include "change_queue.h"
#include "panel_view.h"
#include "rte_frontend.h"

namespace rte_qt {

// The engine's front end on Qt. Everything Qt is touched on the thread that
// created the QApplication (the user-interface thread); calls from other
// threads are handed to it through queued invocations on context_.
class QtFrontEnd final : public rte::FrontEnd {
  public:
    // ownedApp is null when somebody else created the QApplication.
    explicit QtFrontEnd(std::unique_ptr<QApplication> ownedApp);
    ~QtFrontEnd() override;

    bool start() override;
    void stop() override;
    void runLoop() override;
    void quitLoop() override;
    void wake() override;
    void processFrontEndEvents() override;
    void changed(const rte::Change& change) override;
    void messagePopup(const rte::MessageRequest& request) override;
    rte::GenericAnswer genericMessagePopup(const rte::GenericRequest& request) override;
    rte::FileAnswer fileSelectPopup(const rte::FileRequest& request) override;
    void beep() override;
    std::intptr_t windowHandle() const override;

  private:
    bool onWindowThread() const;
    // Runs task on the window's thread and waits for it.
    template <typename Task>
    auto onWindowThreadBlocking(Task task) -> decltype(task());
    template <typename Popup>
    auto runPopup(Popup popup) -> decltype(popup(nullptr));
    void flushChanges();
    void applyPanelChange(const rte::Change& change);
    QWidget* dialogParent() const;

    // Destroyed last: the windows below need it.
    std::unique_ptr<QApplication> ownedApp_;
    std::unique_ptr<QObject> context_;
    PanelIndex index_;
    std::map<int, std::unique_ptr<PanelView>> windows_;
    ChangeQueue changes_;
    std::atomic<bool> wakePending_{false};
    std::atomic<bool> quitPending_{false};
    std::atomic<std::intptr_t> windowHandle_{0};
    QEventLoop* loop_ = nullptr;
};

}  // namespace rte_qt
