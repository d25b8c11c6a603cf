// Runs the application headless in the test process, as an operator would
// meet it: WinMain on its own thread, the panel driven through the headless
// front end, pop-ups answered from a queue or by rule.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "rte.h"
#include "rte_headless.h"

namespace apptest {

using namespace std::chrono_literals;

// Handles of the panel and its pages, read from the engine's model.
struct PanelHandles {
    int main = 0;
    int isp = 0;
    int term = 0;
    int ops = 0;
};

class AppHarness {
  public:
    // Starts WinMain and waits until its event loop runs.
    AppHarness();
    // Quits (answering both confirmations) if the program still runs.
    ~AppHarness();
    AppHarness(const AppHarness&) = delete;
    AppHarness& operator=(const AppHarness&) = delete;

    rte::Headless& ui() { return *headless_; }
    const PanelHandles& panels() const { return panels_; }

    // --- operator actions; each waits until its callback has run
    void commit(int panel, int control);
    void commit(int panel, int control, int value);
    void commit(int panel, int control, double value);
    void commit(int panel, int control, const std::string& text);
    void click(int panel, int control);
    // Presses the control bound to the quit callback (or closes the window).
    void pressQuit();

    // --- what the operator sees
    std::string status() const;
    std::vector<std::string> log() const;
    std::vector<std::string> receiveBox() const;
    bool waitForStatus(const std::string& text, std::chrono::milliseconds timeout = 3s);
    bool waitForLogLine(const std::string& text, std::chrono::milliseconds timeout = 3s);
    // Message pop-ups answered so far (file dialogs left out), "title|message" each.
    std::vector<std::string> popupTexts() const;

    // --- the program's end
    // Waits for WinMain to return; false on time-out.
    bool waitForExit(std::chrono::milliseconds timeout = 10s);
    bool running() const;
    int exitCode() const { return exitCode_; }

    // Runs f on the user-interface thread and returns its result: the one
    // race-free way to look at the application's globals.
    template <typename F>
    auto onUi(F&& f) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(f));
        auto result = task->get_future();
        postToUi([task] { (*task)(); });
        return result.get();
    }

  private:
    void postToUi(std::function<void()> job);
    void findPanels();

    std::shared_ptr<rte::Headless> headless_;
    std::thread program_;
    std::promise<int> exit_;
    std::shared_future<int> exitFuture_;
    int exitCode_ = -100;
    PanelHandles panels_;
};

// Maps COMn to a device for the program (the --com option's effect).
void MapPort(int com, const std::string& device);

}  // namespace apptest
