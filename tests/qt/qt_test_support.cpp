#include "qt_test_support.h"

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>

#include <unistd.h>

#include "rte.h"
#include "rte_callbacks.h"
#include "rte_frontend.h"
#include "rte_qt.h"

namespace qt_test {

namespace {

int argc = 1;
char programName[] = "qt_test";
char* argv[] = {programName, nullptr};

// The QApplication lives for the whole test program and goes before main
// returns, as Qt wants.
class QtEnvironment final : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc, argv); }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

const char* const kPanelFile = R"json({
  "format": "chipload-panel-file", "version": 1,
  "panels": [{
    "id": 1, "constant": "MAIN", "title": "测试面板", "width": 640, "height": 480,
    "close_callback": "Record",
    "controls": [
      {"kind": "decoration", "style": "frame", "label": "串口设置",
       "left": 5, "top": 5, "width": 630, "height": 130},
      {"kind": "button", "id": 2, "constant": "MAIN_GO", "label": "开始(__G)",
       "left": 10, "top": 24, "width": 100, "height": 28, "callback": "Record"},
      {"kind": "toggle", "id": 3, "constant": "MAIN_OPEN", "label": "串口",
       "on_text": "关闭串口", "off_text": "打开串口",
       "left": 120, "top": 24, "width": 100, "height": 28, "callback": "Record"},
      {"kind": "switch", "id": 4, "constant": "MAIN_HEX", "label": "HEX发送",
       "left": 230, "top": 24, "width": 120, "height": 28, "callback": "Record"},
      {"kind": "led", "id": 5, "constant": "MAIN_LED", "label": "就绪", "color": "red",
       "left": 360, "top": 30, "width": 16, "height": 16},
      {"kind": "numeric", "id": 6, "constant": "MAIN_BAUD", "label": "波特率",
       "min": 1200, "max": 115200, "value": 115200,
       "left": 10, "top": 80, "width": 100, "height": 24, "callback": "Record"},
      {"kind": "numeric", "id": 7, "constant": "MAIN_INTERVAL", "label": "间隔(秒)",
       "data_type": "double", "precision": 1, "min": 0.1, "max": 60, "value": 1.0,
       "left": 120, "top": 80, "width": 100, "height": 24, "callback": "Record"},
      {"kind": "numeric", "id": 8, "constant": "MAIN_PROGRESS", "label": "进度",
       "style": "progress", "max": 100,
       "left": 230, "top": 80, "width": 150, "height": 22},
      {"kind": "numeric", "id": 9, "constant": "MAIN_COUNT", "label": "接收计数",
       "style": "indicator", "left": 390, "top": 80, "width": 90, "height": 24},
      {"kind": "string", "id": 10, "constant": "MAIN_STATUS", "label": "状态",
       "style": "indicator", "left": 10, "top": 160, "width": 300, "height": 24},
      {"kind": "string", "id": 11, "constant": "MAIN_NAME", "label": "名称",
       "left": 320, "top": 160, "width": 150, "height": 24, "callback": "Record"},
      {"kind": "ring", "id": 12, "constant": "MAIN_PARITY", "label": "校验",
       "items": [{"label": "无校验", "value": 0}, {"label": "奇校验", "value": 1},
                 {"label": "偶校验", "value": 2}],
       "value": 2, "left": 490, "top": 160, "width": 100, "height": 24, "callback": "Record"},
      {"kind": "textbox", "id": 13, "constant": "MAIN_LOG", "label": "日志", "style": "indicator",
       "left": 10, "top": 210, "width": 300, "height": 120},
      {"kind": "textbox", "id": 14, "constant": "MAIN_SEND", "label": "发送区",
       "left": 320, "top": 210, "width": 300, "height": 60, "callback": "Record"},
      {"kind": "timer", "id": 15, "constant": "MAIN_TIMER", "interval": 1.0, "enabled": false,
       "callback": "Record"},
      {"kind": "tab", "id": 16, "constant": "MAIN_TAB",
       "left": 10, "top": 340, "width": 620, "height": 130,
       "pages": [
         {"label": "第一页", "panel": {"id": 2, "constant": "PAGEA", "controls": [
           {"kind": "button", "id": 2, "constant": "PAGEA_GO", "label": "页内按钮",
            "left": 5, "top": 5, "width": 90, "height": 26, "callback": "Record"},
           {"kind": "tab", "id": 3, "constant": "PAGEA_TAB",
            "left": 100, "top": 0, "width": 400, "height": 95,
            "pages": [
              {"label": "内页一", "panel": {"id": 4, "constant": "INNERA", "controls": [
                {"kind": "led", "id": 2, "constant": "INNERA_LED", "label": "内灯",
                 "left": 5, "top": 5, "width": 16, "height": 16}]}},
              {"label": "内页二", "panel": {"id": 5, "constant": "INNERB", "controls": []}}]}]}},
         {"label": "第二页", "panel": {"id": 3, "constant": "PAGEB", "controls": []}}]}
    ]
  }]
})json";

}  // namespace

int Record(int panel, int control, int event, void*, int, int) {
    Recorder::instance().add({panel, control, event, std::this_thread::get_id()});
    return 0;
}

Recorder& Recorder::instance() {
    static Recorder recorder;
    return recorder;
}

void Recorder::add(const RecordedEvent& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
}

std::vector<RecordedEvent> Recorder::events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void Recorder::clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

const std::string& testPanelFile() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("qt_test_panel_" + std::to_string(::getpid()) + ".uir"))
                                        .string();
    return path;
}

PopupWorker::PopupWorker(std::function<void()> work)
    : thread_([this, work = std::move(work)] {
          work();
          done_ = true;
      }) {}

PopupWorker::~PopupWorker() {
    while (!done_) {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
        QTest::qWait(10);
    }
    thread_.join();
}

void QtFrontEndTest::SetUp() {
    std::ofstream(testPanelFile()) << kPanelFile;
    start(testPanelFile(), [] { RTE_RegisterCallback("Record", Record); });
}

void QtFrontEndTest::start(const std::string& file,
                           const std::function<void()>& registerCallbacks) {
    Recorder::instance().clear();
    ASSERT_EQ(RTE_InstallQtFrontEnd(&argc, argv), 0);
    ASSERT_EQ(InitRTEEx(nullptr, argv, nullptr), 1);
    registerCallbacks();
    panel_ = LoadPanel(0, file.c_str(), 1);
    ASSERT_GT(panel_, 0) << RTE_GetLastErrorText();
    ASSERT_EQ(DisplayPanel(panel_), 0);
}

void QtFrontEndTest::TearDown() {
    RTE_CloseEngine();
    std::filesystem::remove(testPanelFile());
}

void QtFrontEndTest::runUi(const std::function<void()>& script) {
    QTimer::singleShot(0, [&] {
        struct QuitAtEnd {
            ~QuitAtEnd() { QuitUserInterface(0); }
        } quit;
        uiThread_ = std::this_thread::get_id();
        const auto panel = rte::Panel(panel_);
        ASSERT_TRUE(panel.has_value());
        const QString name = QString::fromStdString(panel->constant);
        ASSERT_TRUE(waitFor([&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->objectName() == name && top->isVisible()) {
                    window_ = top;
                }
            }
            return window_ != nullptr;
        }));
        script();
    });
    RunUserInterface();
}

bool QtFrontEndTest::waitFor(const std::function<bool()>& pred) {
    return QTest::qWaitFor(pred, 2000);
}

}  // namespace qt_test
