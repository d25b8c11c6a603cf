// The headless front end as a scripted run uses it: echoed pop-ups and
// status and log lines on standard output, beeps counted.
#include "rte_test_support.h"

namespace {

constexpr const char* kPanel = R"({
  "format": "chipload-panel-file", "version": 1,
  "panels": [{"id": 1, "constant": "P", "controls": [
    {"id": 2, "constant": "P_STATUS", "kind": "string", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 3, "constant": "P_LOG", "kind": "textbox", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 4, "constant": "P_QUIET", "kind": "string", "left": 0, "top": 0, "width": 9, "height": 9}
  ]}]})";

TEST(Headless, EchoPrintsPopupsAndTheNamedControlsOnly) {
    rte_test::TempFile file(kPanel);
    rte::Headless::Options options;
    options.echo = true;
    options.echoControls = {"P_STATUS", "P_LOG"};
    options.rule = rte::Headless::PopupRule::EnterButton;
    rte_test::RunningEngine engine(options);
    const int panel = LoadPanel(0, file.path().c_str(), 1);
    ASSERT_GT(panel, 0);

    testing::internal::CaptureStdout();
    SetCtrlVal(panel, 2, "连接设备中");
    SetCtrlVal(panel, 4, "not echoed");
    InsertTextBoxLine(panel, 3, -1, "first");
    InsertTextBoxLine(panel, 3, -1, "second");
    ResetTextBox(panel, 3, "");
    InsertTextBoxLine(panel, 3, -1, "after reset");
    const int answer = GenericMessagePopup("系统提示", "退出?", "退出(__Y)", "放弃(__N)", "",
                                           nullptr, 0, 0, 2, 1, 0);
    MessagePopup("告警", "目标板未响应");
    RTE_Beep();
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(answer, 1);
    EXPECT_EQ(out,
              "[P_STATUS] 连接设备中\n"
              "[P_LOG] first\n"
              "[P_LOG] second\n"
              "[P_LOG] after reset\n"
              "[question] 系统提示: 退出? -> 1\n"
              "[message] 告警: 目标板未响应\n");
    EXPECT_EQ(engine.op->beepCount(), 1u);
    EXPECT_TRUE(engine.op->waitForPopups(2, std::chrono::milliseconds(10)));
}

}  // namespace
