#include "app_harness.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "ChipLoad.h"
#include "port_map.h"
#include "rte_frontend.h"
#include "startup.h"

namespace apptest {

namespace {

void RunJob(void* data) {
    std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(data));
    (*job)();
}

// The page handle of the panel whose constant is `name` (e.g. "TABOPS").
int PanelByConstant(const std::string& name) {
    for (int handle : rte::Panels()) {
        const auto info = rte::Panel(handle);
        if (info && info->constant == name) {
            return handle;
        }
    }
    return 0;
}

}  // namespace

void MapPort(int com, const std::string& device) {
    if (!chipload::portmap::assign(com, device)) {
        throw std::runtime_error("cannot map COM" + std::to_string(com) + " to " + device);
    }
}

AppHarness::AppHarness() : exitFuture_(exit_.get_future().share()) {
    headless_ = rte::Headless::Install();
    program_ = std::thread([this] {
        char commandLine[] = "";
        exit_.set_value(WinMain(nullptr, nullptr, commandLine, 1));
    });
    // The loop runs once the panel has been displayed and the marker event
    // posted after that has been processed.
    const bool displayed = headless_->waitUntil(
        [this] {
            if (exitFuture_.wait_for(0s) == std::future_status::ready) {
                return true;
            }
            const int main = PanelByConstant("PANEL");
            const auto info = main != 0 ? rte::Panel(main) : std::nullopt;
            return info && info->displayed;
        },
        10s);
    if (!displayed || exitFuture_.wait_for(0s) == std::future_status::ready) {
        if (program_.joinable()) {
            program_.join();
        }
        throw std::runtime_error("the program did not start: " +
                                 std::string(RTE_GetLastErrorText()));
    }
    headless_->waitIdle(10s);
    findPanels();
}

AppHarness::~AppHarness() {
    if (running()) {
        headless_->queuePopupAnswer(1);
        headless_->queuePopupAnswer(1);
        pressQuit();
        waitForExit(10s);
    }
    if (program_.joinable()) {
        program_.join();
    }
    RTE_CloseEngine();
    chipload::portmap::clearAssignments();
}

void AppHarness::findPanels() {
    panels_.main = PanelByConstant("PANEL");
    panels_.isp = PanelByConstant("TABISP");
    panels_.term = PanelByConstant("TABTERM");
    panels_.ops = PanelByConstant("TABOPS");
}

void AppHarness::postToUi(std::function<void()> job) {
    auto* heap = new std::function<void()>(std::move(job));
    if (PostDeferredCall(RunJob, heap) != 0) {
        delete heap;
        throw std::runtime_error("cannot post to the user-interface thread");
    }
}

void AppHarness::commit(int panel, int control) {
    headless_->commit(panel, control);
    headless_->waitIdle();
}

void AppHarness::commit(int panel, int control, int value) {
    headless_->commit(panel, control, value);
    headless_->waitIdle();
}

void AppHarness::commit(int panel, int control, double value) {
    headless_->commit(panel, control, value);
    headless_->waitIdle();
}

void AppHarness::commit(int panel, int control, const std::string& text) {
    headless_->commit(panel, control, text);
    headless_->waitIdle();
}

void AppHarness::click(int panel, int control) {
    headless_->click(panel, control);
    headless_->waitIdle();
}

void AppHarness::pressQuit() {
    for (int handle : rte::Panels()) {
        const auto info = rte::Panel(handle);
        for (int id : info ? info->controls : std::vector<int>{}) {
            const auto control = rte::Control(handle, id);
            if (control && control->callbackName == "MainQuitCb") {
                headless_->commit(handle, id);
                return;
            }
        }
    }
    headless_->closePanel(panels_.main);
}

std::string AppHarness::status() const {
    return headless_->text(panels_.main, PANEL_STATUS);
}

std::vector<std::string> AppHarness::log() const {
    return headless_->lines(panels_.ops, TABOPS_LOG);
}

std::vector<std::string> AppHarness::receiveBox() const {
    return headless_->lines(panels_.term, TABTERM_RECEIVE);
}

bool AppHarness::waitForStatus(const std::string& text, std::chrono::milliseconds timeout) {
    return headless_->waitUntil([&] { return status() == text; }, timeout);
}

bool AppHarness::waitForLogLine(const std::string& text, std::chrono::milliseconds timeout) {
    return headless_->waitUntil(
        [&] {
            for (const auto& line : log()) {
                if (line == text) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}

std::vector<std::string> AppHarness::popupTexts() const {
    std::vector<std::string> texts;
    for (const auto& popup : headless_->popups()) {
        if (popup.kind == rte::Headless::PopupRecord::Kind::File) {
            continue;
        }
        texts.push_back(popup.title + "|" + popup.message);
    }
    return texts;
}

bool AppHarness::waitForExit(std::chrono::milliseconds timeout) {
    if (exitFuture_.wait_for(timeout) != std::future_status::ready) {
        return false;
    }
    exitCode_ = exitFuture_.get();
    if (program_.joinable()) {
        program_.join();
    }
    return true;
}

bool AppHarness::running() const {
    return exitFuture_.wait_for(0s) != std::future_status::ready;
}

}  // namespace apptest
