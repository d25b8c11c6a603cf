// The user-interface thread: ordering, no nesting, quitting, pop-ups held
// against it, timer controls, and controls touched from other threads.
#include <chrono>
#include <mutex>
#include <vector>

#include "rte_test_support.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kPanel = R"({
  "format": "chipload-panel-file", "version": 1,
  "panels": [{"id": 1, "constant": "P", "width": 400, "height": 300, "close_callback": "ev_record",
    "controls": [
      {"id": 2, "constant": "P_NUM", "kind": "numeric", "left": 0, "top": 0, "width": 50, "height": 20,
       "callback": "ev_record"},
      {"id": 3, "constant": "P_BUTTON", "kind": "button", "left": 0, "top": 30, "width": 50, "height": 20,
       "callback": "ev_record"},
      {"id": 4, "constant": "P_TIMER", "kind": "timer", "interval": 0.02, "enabled": false,
       "callback": "ev_tick"},
      {"id": 5, "constant": "P_TOGGLE", "kind": "toggle", "left": 0, "top": 60, "width": 50, "height": 20,
       "callback": "ev_record"},
      {"id": 6, "constant": "P_TEXT", "kind": "string", "left": 0, "top": 90, "width": 50, "height": 20}
    ]}]})";

struct Seen {
    int control, event;
    std::thread::id thread;
    bool nested;
};

std::mutex seenMutex;
std::vector<Seen> seen;
std::atomic<int> depth{0};
std::atomic<bool> processInside{false};
std::atomic<bool> quitInside{false};

void Record(int control, int event) {
    const bool nested = ++depth > 1;
    if (processInside) {
        ProcessSystemEvents();  // must not run the next event in here
    }
    {
        std::lock_guard lock(seenMutex);
        seen.push_back({control, event, std::this_thread::get_id(), nested});
    }
    if (quitInside && event == EVENT_COMMIT) {
        QuitUserInterface(7);
        std::this_thread::sleep_for(20ms);  // the loop must wait for this callback
        std::lock_guard lock(seenMutex);
        seen.push_back({-1, 0, std::this_thread::get_id(), false});
    }
    --depth;
}

int ev_record(int, int control, int event, void*, int, int) {
    Record(control, event);
    return 0;
}

std::atomic<int> ticks{0};
std::atomic<bool> tickOffUi{false};
std::atomic<std::thread::id> tickThread{};
int ev_tick(int, int, int event, void*, int, int) {
    if (event == EVENT_TIMER_TICK) {
        if (tickThread.load() != std::this_thread::get_id()) {
            tickOffUi = true;
        }
        ++ticks;
    }
    return 0;
}

// Deferred calls record their tag offset by kDeferred in place of a control.
constexpr int kDeferred = 1000000;
void Deferred(void* data) {
    Record(kDeferred + static_cast<int>(reinterpret_cast<std::intptr_t>(data)), 0);
}

class EventLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        RTE_RegisterCallback("ev_record", ev_record);
        RTE_RegisterCallback("ev_tick", ev_tick);
        {
            std::lock_guard lock(seenMutex);
            seen.clear();
        }
        processInside = false;
        quitInside = false;
        ticks = 0;
        tickOffUi = false;
        engine = std::make_unique<rte_test::RunningEngine>();
        panel = LoadPanel(0, file.path().c_str(), 1);
        ASSERT_GT(panel, 0) << RTE_GetLastErrorText();
    }
    void TearDown() override { engine.reset(); }

    std::vector<Seen> Snapshot() {
        std::lock_guard lock(seenMutex);
        return seen;
    }

    rte_test::TempFile file{kPanel};
    std::unique_ptr<rte_test::RunningEngine> engine;
    int panel = 0;
};

TEST_F(EventLoop, EventsFromManyThreadsRunOnTheUiThreadInPostingOrderNeverNested) {
    engine->start();
    processInside = true;  // a callback pumping must not nest the next one
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([t, this] {
            for (int i = 0; i < kEach; ++i) {
                const int tag = t * 1000 + i;
                if (i % 2 == 0) {
                    PostDeferredCall(Deferred,
                                     reinterpret_cast<void*>(static_cast<std::intptr_t>(tag)));
                } else {
                    // Control events carry their tag as the event number.
                    ASSERT_EQ(rte::PostControlEvent(panel, 2, tag), RTE_OK);
                }
            }
        });
    }
    for (auto& p : posters) {
        p.join();
    }
    ASSERT_TRUE(engine->op->waitIdle(10s));
    const auto all = Snapshot();
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const auto& s : all) {
        EXPECT_EQ(s.thread, engine->uiId.load());
        EXPECT_FALSE(s.nested);
        const int tag = s.control >= kDeferred ? s.control - kDeferred : s.event;
        const int t = tag / 1000;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(tag % 1000, next[static_cast<std::size_t>(t)])
            << "thread " << t << " out of order";
        next[static_cast<std::size_t>(t)] = tag % 1000 + 1;
    }
}

TEST_F(EventLoop, QuitEndsTheLoopAfterTheCallbackReturnsAndLaterEventsRunOutsideIt) {
    std::atomic<std::size_t> seenAtReturn{0};
    std::atomic<int> result{0};
    std::thread ui([&] {
        result = RunUserInterface();
        seenAtReturn = Snapshot().size();
        ProcessSystemEvents();  // as WinMain does while waiting for its workers
    });
    quitInside = true;
    engine->op->click(panel, 3);  // left click, then the commit that quits
    PostDeferredCall(Deferred, reinterpret_cast<void*>(std::intptr_t{99}));
    ui.join();
    EXPECT_EQ(result.load(), 7);
    // Left click, commit, then the commit's tail after its pause: the loop
    // waited for the callback and ran nothing after it.
    EXPECT_EQ(seenAtReturn.load(), 3u);
    const auto all = Snapshot();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].event, EVENT_LEFT_CLICK);
    EXPECT_EQ(all[1].event, EVENT_COMMIT);
    EXPECT_EQ(all[2].control, -1);
    // The deferred call ran on the same thread, after the loop.
    EXPECT_EQ(all[3].control, kDeferred + 99);
    EXPECT_EQ(all[3].thread, all[0].thread);
}

TEST_F(EventLoop, APopupOnAWorkerBlocksItAndHoldsEventsUntilAnswered) {
    engine->op->setPopupRule(rte::Headless::PopupRule::Manual);
    engine->start();
    std::atomic<int> answer{-1};
    std::thread worker([&] {
        answer = GenericMessagePopup("标题", "继续吗?", "确定(__Y)", "取消(__N)", "", nullptr, 0, 0,
                                     2, 1, 0);
    });
    ASSERT_TRUE(engine->op->waitForPendingPopup(5s));
    // The model stays usable from any thread while the pop-up is open.
    EXPECT_EQ(SetCtrlVal(panel, 6, "during"), RTE_OK);
    EXPECT_EQ(engine->op->text(panel, 6), "during");
    engine->op->commit(panel, 2, 5);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(answer.load(), -1) << "the worker did not wait for the answer";
    EXPECT_TRUE(Snapshot().empty()) << "an event ran while the pop-up was open";
    EXPECT_FALSE(engine->op->waitIdle(20ms));

    const auto workerId = worker.get_id();
    ASSERT_TRUE(engine->op->answerPopup(2));
    worker.join();
    EXPECT_EQ(answer.load(), 2);
    ASSERT_TRUE(engine->op->waitIdle(5s));
    ASSERT_EQ(Snapshot().size(), 1u);
    EXPECT_EQ(Snapshot()[0].event, EVENT_COMMIT);
    EXPECT_EQ(Snapshot()[0].thread, engine->uiId.load());

    const auto popups = engine->op->popups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "标题");
    EXPECT_EQ(popups[0].buttons, (std::vector<std::string>{"确定(__Y)", "取消(__N)"}));
    EXPECT_EQ(popups[0].answer, 2);
    EXPECT_EQ(popups[0].thread, workerId);
}

TEST_F(EventLoop, PopupAnswersComeFromTheQueueThenTheRule) {
    engine->start();
    engine->op->setPopupRule(rte::Headless::PopupRule::EnterButton);
    engine->op->queuePopupAnswer(3);
    EXPECT_EQ(GenericMessagePopup("t", "m", "a", "b", "c", nullptr, 0, 0, 0, 2, 0), 3);
    EXPECT_EQ(GenericMessagePopup("t", "m", "a", "b", "c", nullptr, 0, 0, 0, 2, 0), 2);
    // An answer naming a button the pop-up does not have counts as closed.
    engine->op->queuePopupAnswer(3);
    EXPECT_EQ(GenericMessagePopup("t", "m", "a", "b", "", nullptr, 0, 0, 0, 1, 0), 0);
    EXPECT_EQ(MessagePopup("提示", "文本"), RTE_OK);

    char path[16] = "junk";
    engine->op->queueFileAnswer("/tmp/a.hex");
    EXPECT_EQ(FileSelectPopup("", "*.hex", "*.hex", "选择", 2, 0, 0, 1, 0, path, sizeof path),
              VAL_EXISTING_FILE_SELECTED);
    EXPECT_STREQ(path, "/tmp/a.hex");
    engine->op->queueFileAnswer("/a/path/much/longer/than/sixteen/bytes.hex");
    EXPECT_EQ(FileSelectPopup("", "*.hex", "*.hex", "选择", 2, 0, 0, 1, 0, path, sizeof path),
              RTE_ERR_PATH_TOO_LONG);
    EXPECT_STREQ(path, "") << "a cut path could name another file";
    EXPECT_EQ(FileSelectPopup("", "*.hex", "*.hex", "选择", 2, 0, 0, 1, 0, path, sizeof path),
              VAL_NO_FILE_SELECTED);
    EXPECT_EQ(engine->op->popups().size(), 7u);
}

TEST_F(EventLoop, TimerControlsTickOnTheUiThreadAndFollowIntervalAndEnabled) {
    engine->start();
    tickThread = engine->uiId.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ticks.load(), 0) << "a disabled timer ticked";

    ASSERT_EQ(SetCtrlAttribute(panel, 4, ATTR_ENABLED, 1), RTE_OK);
    ASSERT_TRUE(engine->op->waitUntil([] { return ticks >= 5; }, 5s));
    EXPECT_FALSE(tickOffUi.load());

    // A long interval: no further tick within a short wait.
    ASSERT_EQ(SetCtrlAttribute(panel, 4, ATTR_INTERVAL, 30.0), RTE_OK);
    engine->op->waitIdle();
    const int before = ticks;
    std::this_thread::sleep_for(150ms);
    EXPECT_LE(ticks - before, 1);
    double interval = 0;
    ASSERT_EQ(GetCtrlAttribute(panel, 4, ATTR_INTERVAL, &interval), RTE_OK);
    EXPECT_DOUBLE_EQ(interval, 30.0);

    // Back to a short interval: ticks resume at about its rate.
    ASSERT_EQ(SetCtrlAttribute(panel, 4, ATTR_INTERVAL, 0.01), RTE_OK);
    const int resumed = ticks;
    ASSERT_TRUE(engine->op->waitUntil([&] { return ticks >= resumed + 5; }, 5s));
    ASSERT_EQ(SetCtrlAttribute(panel, 4, ATTR_ENABLED, 0), RTE_OK);
    engine->op->waitIdle();
    const int stopped = ticks;
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(ticks.load(), stopped) << "a disabled timer kept ticking";
}

TEST_F(EventLoop, TogglesFlipOnClickAndTheWindowCloseCommitsItsCallback) {
    engine->start();
    EXPECT_EQ(engine->op->intValue(panel, 5), 0);
    engine->op->click(panel, 5);
    engine->op->closePanel(panel);
    ASSERT_TRUE(engine->op->waitIdle());
    EXPECT_EQ(engine->op->intValue(panel, 5), 1);
    const auto all = Snapshot();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[1].control, 5);
    EXPECT_EQ(all[1].event, EVENT_COMMIT);
    EXPECT_EQ(all[2].control, 0);  // the close
    EXPECT_EQ(all[2].event, EVENT_COMMIT);
}

TEST_F(EventLoop, ProcessSystemEventsOffTheUiThreadYieldsWithoutRunningEvents) {
    engine->start();
    std::thread other([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i) {
            ProcessSystemEvents();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 15ms) << "a polling loop would burn a core";
    });
    other.join();
}

TEST_F(EventLoop, ControlsWrittenFromWorkersWhileCallbacksRunStayConsistent) {
    engine->start();
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::thread writer([&] {
        for (int i = 0; !stop || written < 100; ++i) {
            SetCtrlVal(panel, 2, i);
            SetCtrlVal(panel, 6, i % 2 == 0 ? "even" : "odd");
            ++written;
        }
    });
    for (int i = 0; i < 200; ++i) {
        engine->op->commit(panel, 2);
    }
    ASSERT_TRUE(engine->op->waitIdle(10s));
    stop = true;
    writer.join();
    const std::string text = engine->op->text(panel, 6);
    EXPECT_TRUE(text == "even" || text == "odd");
    EXPECT_EQ(Snapshot().size(), 200u);
}

}  // namespace
