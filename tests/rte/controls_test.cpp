// Control values and attributes: what each kind takes and refuses, text
// boxes as the front end reads them, tab pages and discarding.
#include <climits>
#include <cstring>

#include "rte_test_support.h"

namespace {

constexpr const char* kPanel = R"({
  "format": "chipload-panel-file", "version": 1,
  "panels": [{"id": 1, "constant": "P", "width": 400, "height": 300, "controls": [
    {"id": 2, "constant": "P_INT", "kind": "numeric", "left": 0, "top": 0, "width": 9, "height": 9,
     "min": 0, "max": 10, "value": 3},
    {"id": 3, "constant": "P_DBL", "kind": "numeric", "data_type": "double", "left": 0, "top": 0,
     "width": 9, "height": 9, "value": 1.5},
    {"id": 4, "constant": "P_STR", "kind": "string", "left": 0, "top": 0, "width": 9, "height": 9,
     "value": "init"},
    {"id": 5, "constant": "P_BOX", "kind": "textbox", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 6, "constant": "P_RING", "kind": "ring", "left": 0, "top": 0, "width": 9, "height": 9,
     "items": [{"label": "none", "value": 0}, {"label": "odd", "value": 1}, {"label": "even", "value": 2}],
     "value": 2},
    {"id": 7, "constant": "P_LED", "kind": "led", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 8, "constant": "P_BUTTON", "kind": "button", "label": "Go", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 9, "constant": "P_TIMER", "kind": "timer", "callback": "ct_cb"},
    {"id": 10, "constant": "P_TAB", "kind": "tab", "left": 0, "top": 0, "width": 99, "height": 99,
     "pages": [
       {"label": "A", "panel": {"id": 2, "constant": "PA", "controls": [
         {"id": 2, "constant": "PA_STR", "kind": "string", "left": 0, "top": 0, "width": 9, "height": 9}]}},
       {"label": "B", "panel": {"id": 3, "constant": "PB", "controls": [
         {"id": 2, "constant": "PB_TAB", "kind": "tab", "left": 0, "top": 0, "width": 9, "height": 9,
          "pages": [{"label": "B1", "panel": {"id": 4, "constant": "PB1", "controls": []}}]}]}}]}
  ]}]})";

int ct_cb(int, int, int, void*, int, int) {
    return 0;
}
int other_cb(int, int, int, void*, int, int) {
    return 0;
}

class Controls : public ::testing::Test {
  protected:
    void SetUp() override {
        RTE_RegisterCallback("ct_cb", ct_cb);
        RTE_RegisterCallback("other_cb", other_cb);
        engine = std::make_unique<rte_test::RunningEngine>();
        panel = LoadPanel(0, file.path().c_str(), 1);
        ASSERT_GT(panel, 0) << RTE_GetLastErrorText();
    }
    rte_test::TempFile file{kPanel};
    std::unique_ptr<rte_test::RunningEngine> engine;
    int panel = 0;
};

TEST_F(Controls, NumericsConvertBetweenIntAndDoubleAndAreNotClampedByTheProgram) {
    int i = 0;
    double d = 0;
    EXPECT_EQ(SetCtrlVal(panel, 2, 1199), RTE_OK);  // outside min/max: stored as given
    EXPECT_EQ(GetCtrlVal(panel, 2, &i), RTE_OK);
    EXPECT_EQ(i, 1199);
    EXPECT_EQ(SetCtrlVal(panel, 2, 2.6), RTE_OK);
    EXPECT_EQ(GetCtrlVal(panel, 2, &i), RTE_OK);
    EXPECT_EQ(i, 3);
    EXPECT_EQ(SetCtrlVal(panel, 3, 7), RTE_OK);
    EXPECT_EQ(GetCtrlVal(panel, 3, &d), RTE_OK);
    EXPECT_DOUBLE_EQ(d, 7.0);
    EXPECT_EQ(SetCtrlVal(panel, 3, 0.25), RTE_OK);
    EXPECT_EQ(GetCtrlVal(panel, 3, &d), RTE_OK);
    EXPECT_DOUBLE_EQ(d, 0.25);
    unsigned int u = 0;
    EXPECT_EQ(SetCtrlVal(panel, 2, 655360u), RTE_OK);
    EXPECT_EQ(GetCtrlVal(panel, 2, &u), RTE_OK);
    EXPECT_EQ(u, 655360u);
    // Numbers and text do not mix.
    char text[8];
    EXPECT_EQ(SetCtrlVal(panel, 2, "12"), RTE_ERR_BAD_VALUE_TYPE);
    EXPECT_EQ(GetCtrlVal(panel, 2, text, sizeof text), RTE_ERR_BAD_VALUE_TYPE);
    EXPECT_EQ(SetCtrlVal(panel, 4, 12), RTE_ERR_BAD_VALUE_TYPE);
    EXPECT_EQ(SetCtrlVal(panel, 8, 1), RTE_ERR_BAD_VALUE_TYPE);
    EXPECT_EQ(SetCtrlVal(panel, 99, 1), RTE_ERR_BAD_CONTROL);
    EXPECT_EQ(SetCtrlVal(9999, 2, 1), RTE_ERR_BAD_PANEL);
    // LEDs keep the number given (a DTR LED may show 2).
    EXPECT_EQ(SetCtrlVal(panel, 7, 2), RTE_OK);
    EXPECT_EQ(engine->op->intValue(panel, 7), 2);
}

TEST_F(Controls, StringReadsNeverOverrunTheCallersBuffer) {
    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(GetCtrlVal(panel, 4, small, sizeof small), RTE_OK);
    EXPECT_STREQ(small, "init");
    ASSERT_EQ(SetCtrlVal(panel, 4, "a longer text"), RTE_OK);
    char guard[12];
    std::memset(guard, 'g', sizeof guard);
    EXPECT_EQ(GetCtrlVal(panel, 4, guard, 5), RTE_ERR_BUFFER_TOO_SMALL);
    EXPECT_STREQ(guard, "a lo");
    EXPECT_EQ(guard[5], 'g') << "wrote past the size given";
    int length = 0;
    EXPECT_EQ(GetCtrlValStringLength(panel, 4, &length), RTE_OK);
    EXPECT_EQ(length, 13);
    EXPECT_EQ(GetCtrlVal(panel, 4, guard, 0), RTE_ERR_BAD_ARGUMENT);
}

TEST_F(Controls, RingsTakeOnlyTheirItemsValuesAndIndexFollows) {
    int index = -1, value = -1;
    EXPECT_EQ(GetCtrlAttribute(panel, 6, ATTR_CTRL_INDEX, &index), RTE_OK);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(SetCtrlVal(panel, 6, 5), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(GetCtrlVal(panel, 6, &value), RTE_OK);
    EXPECT_EQ(value, 2) << "a refused value changed the ring";
    EXPECT_EQ(SetCtrlAttribute(panel, 6, ATTR_CTRL_INDEX, 0), RTE_OK);
    EXPECT_EQ(GetCtrlVal(panel, 6, &value), RTE_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(SetCtrlAttribute(panel, 6, ATTR_CTRL_INDEX, 3), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(SetCtrlVal(panel, 6, 1), RTE_OK);
    EXPECT_EQ(GetCtrlAttribute(panel, 6, ATTR_CTRL_INDEX, &index), RTE_OK);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(SetCtrlAttribute(panel, 2, ATTR_CTRL_INDEX, 0), RTE_ERR_BAD_ATTRIBUTE);
}

TEST_F(Controls, RingItemsCanBeReplacedAndTheSelectionStaysOnItsItem) {
    constexpr int kRing = 6, kLed = 7;
    ASSERT_EQ(ClearListCtrl(panel, kRing), RTE_OK);
    int count = -1, value = -1, index = 0;
    GetNumListItems(panel, kRing, &count);
    GetCtrlVal(panel, kRing, &value);
    GetCtrlAttribute(panel, kRing, ATTR_CTRL_INDEX, &index);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(SetCtrlVal(panel, kRing, 3), RTE_ERR_BAD_ARGUMENT);

    ASSERT_EQ(InsertListItem(panel, kRing, -1, "COM3", 3), RTE_OK);  // selected: first item
    ASSERT_EQ(InsertListItem(panel, kRing, -1, "COM5", 5), RTE_OK);
    ASSERT_EQ(SetCtrlVal(panel, kRing, 5), RTE_OK);
    ASSERT_EQ(InsertListItem(panel, kRing, 0, "COM1", 1), RTE_OK);  // before the selection
    GetNumListItems(panel, kRing, &count);
    GetCtrlVal(panel, kRing, &value);
    GetCtrlAttribute(panel, kRing, ATTR_CTRL_INDEX, &index);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(value, 5);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(rte::Control(panel, kRing)->items.front().label, "COM1");

    EXPECT_EQ(InsertListItem(panel, kLed, -1, "x", 1), RTE_ERR_BAD_CONTROL);
    EXPECT_EQ(ClearListCtrl(panel, kLed), RTE_ERR_BAD_CONTROL);
    EXPECT_EQ(InsertListItem(panel, kRing, -1, nullptr, 1), RTE_ERR_BAD_ARGUMENT);
}

TEST_F(Controls, AttributesApplyToTheirKindsAndReadBack) {
    int v = -1;
    EXPECT_EQ(SetCtrlAttribute(panel, 8, ATTR_DIMMED, 1), RTE_OK);
    EXPECT_EQ(GetCtrlAttribute(panel, 8, ATTR_DIMMED, &v), RTE_OK);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(SetCtrlAttribute(panel, 8, ATTR_VISIBLE, 0), RTE_OK);
    EXPECT_FALSE(engine->op->control(panel, 8).visible);
    EXPECT_EQ(SetCtrlAttribute(panel, 8, ATTR_LABEL_TEXT, "断开连接"), RTE_OK);
    char label[32];
    EXPECT_EQ(GetCtrlAttribute(panel, 8, ATTR_LABEL_TEXT, label, sizeof label), RTE_OK);
    EXPECT_STREQ(label, "断开连接");
    EXPECT_EQ(SetCtrlAttribute(panel, 2, ATTR_MAX_VALUE, 655360u), RTE_OK);
    EXPECT_EQ(SetCtrlAttribute(panel, 2, ATTR_MIN_VALUE, 0), RTE_OK);
    EXPECT_EQ(GetCtrlAttribute(panel, 2, ATTR_MAX_VALUE, &v), RTE_OK);
    EXPECT_EQ(v, 655360);
    EXPECT_EQ(SetCtrlAttribute(panel, 10, ATTR_TABS_VISIBLE, 0), RTE_OK);
    EXPECT_EQ(engine->op->attribute(panel, 10, ATTR_TABS_VISIBLE), 0);
    // The wrong kind is refused and changes nothing.
    EXPECT_EQ(SetCtrlAttribute(panel, 4, ATTR_TABS_VISIBLE, 0), RTE_ERR_BAD_ATTRIBUTE);
    EXPECT_EQ(SetCtrlAttribute(panel, 4, ATTR_INTERVAL, 1.0), RTE_ERR_BAD_ATTRIBUTE);
    EXPECT_EQ(SetCtrlAttribute(panel, 9, ATTR_INTERVAL, -1.0), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(SetCtrlAttribute(panel, 2, 12345, 1), RTE_ERR_BAD_ATTRIBUTE);
}

TEST_F(Controls, CallbacksCanBeReplacedAndRemovedThroughTheAttribute) {
    CtrlCallbackPtr fn = nullptr;
    EXPECT_EQ(GetCtrlAttribute(panel, 9, ATTR_CALLBACK_FUNCTION_POINTER, &fn), RTE_OK);
    EXPECT_EQ(fn, &ct_cb);
    EXPECT_EQ(engine->op->control(panel, 9).callbackName, "ct_cb");
    EXPECT_EQ(SetCtrlAttribute(panel, 9, ATTR_CALLBACK_FUNCTION_POINTER, &other_cb), RTE_OK);
    EXPECT_EQ(GetCtrlAttribute(panel, 9, ATTR_CALLBACK_FUNCTION_POINTER, &fn), RTE_OK);
    EXPECT_EQ(fn, &other_cb);
    EXPECT_EQ(engine->op->control(panel, 9).callbackName, "other_cb");
    EXPECT_EQ(SetCtrlAttribute(panel, 9, ATTR_CALLBACK_FUNCTION_POINTER, 0), RTE_OK);
    EXPECT_FALSE(engine->op->control(panel, 9).hasCallback);
    EXPECT_EQ(SetCtrlAttribute(panel, 9, ATTR_CALLBACK_FUNCTION_POINTER, 1),
              RTE_ERR_BAD_VALUE_TYPE);
}

TEST_F(Controls, TextBoxesAppendInsertResetAndHandOutOnlyNewLines) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(InsertTextBoxLine(panel, 5, -1, ("line " + std::to_string(i)).c_str()), RTE_OK);
    }
    int count = 0;
    EXPECT_EQ(GetNumTextBoxLines(panel, 5, &count), RTE_OK);
    EXPECT_EQ(count, 3);
    auto first = rte::ReadTextBox(panel, 5, 0, 0);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->reset);
    EXPECT_EQ(first->lines.size(), 3u);
    ASSERT_EQ(InsertTextBoxLine(panel, 5, -1, "line 3"), RTE_OK);
    auto more = rte::ReadTextBox(panel, 5, first->generation, 3);
    ASSERT_TRUE(more);
    EXPECT_FALSE(more->reset);
    EXPECT_EQ(more->firstLine, 3u);
    EXPECT_EQ(more->lines, std::vector<std::string>{"line 3"});

    // An insertion in the middle changes the generation: the front end reloads.
    ASSERT_EQ(InsertTextBoxLine(panel, 5, 0, "top"), RTE_OK);
    auto after = rte::ReadTextBox(panel, 5, more->generation, 4);
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->reset);
    EXPECT_EQ(after->lines.front(), "top");
    char text[64];
    EXPECT_EQ(GetCtrlVal(panel, 5, text, sizeof text), RTE_OK);
    EXPECT_STREQ(text, "top\nline 0\nline 1\nline 2\nline 3");

    ASSERT_EQ(SetCtrlAttribute(panel, 5, ATTR_FIRST_VISIBLE_LINE, 5), RTE_OK);
    ASSERT_EQ(ResetTextBox(panel, 5, ""), RTE_OK);
    EXPECT_EQ(GetNumTextBoxLines(panel, 5, &count), RTE_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(engine->op->attribute(panel, 5, ATTR_FIRST_VISIBLE_LINE), 0);
    ASSERT_EQ(SetCtrlVal(panel, 5, "a\nb"), RTE_OK);  // replaces
    EXPECT_EQ(engine->op->lines(panel, 5), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(InsertTextBoxLine(panel, 4, -1, "x"), RTE_ERR_BAD_CONTROL);
}

TEST_F(Controls, TabPagesArePanelsOfTheirOwnAndGoWithTheirPanel) {
    int a = 0, b = 0, b1 = 0;
    ASSERT_EQ(GetPanelHandleFromTabPage(panel, 10, 0, &a), RTE_OK);
    ASSERT_EQ(GetPanelHandleFromTabPage(panel, 10, 1, &b), RTE_OK);
    ASSERT_EQ(GetPanelHandleFromTabPage(b, 2, 0, &b1), RTE_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(GetPanelHandleFromTabPage(panel, 10, 2, &a), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(GetPanelHandleFromTabPage(panel, 4, 0, &a), RTE_ERR_BAD_CONTROL);
    ASSERT_EQ(SetCtrlVal(a, 2, "page"), RTE_OK);
    EXPECT_EQ(engine->op->text(a, 2), "page");
    EXPECT_EQ(engine->op->text(panel, 4), "init")
        << "pages share IDs with, not values of, the panel";
    const auto info = rte::Panel(b1);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->parentPanel, b);
    EXPECT_EQ(info->constant, "PB1");

    // A second load is a separate copy.
    const int again = LoadPanel(0, file.path().c_str(), 1);
    ASSERT_GT(again, 0);
    EXPECT_EQ(engine->op->text(again, 4), "init");

    EXPECT_EQ(DiscardPanel(a), RTE_ERR_BAD_PANEL) << "a page is discarded with its panel";
    EXPECT_EQ(DiscardPanel(panel), RTE_OK);
    EXPECT_EQ(SetCtrlVal(a, 2, "gone"), RTE_ERR_BAD_PANEL);
    EXPECT_FALSE(rte::Panel(b1));
    EXPECT_EQ(DiscardPanel(panel), RTE_ERR_BAD_PANEL);
    EXPECT_EQ(engine->op->text(again, 4), "init");
}

TEST_F(Controls, OnlyControlsTheOperatorActsOnCanHoldTheFocus) {
    EXPECT_EQ(0, GetActiveCtrl(panel));
    struct Case {
        int panel, control, result;
    };
    const Case cases[] = {
        {panel, 8, RTE_OK},                   // button
        {panel, 9, RTE_ERR_BAD_CONTROL},      // timer
        {panel, 99, RTE_ERR_BAD_CONTROL},     // no such control
        {panel + 100, 8, RTE_ERR_BAD_PANEL},  // no such panel
        {panel, 4, RTE_OK},                   // string
    };
    int expected = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, SetActiveCtrl(c.panel, c.control)) << c.control;
        if (c.result == RTE_OK) {
            expected = c.control;
        }
        // A refused call leaves the focus where it was.
        EXPECT_EQ(expected, GetActiveCtrl(panel)) << c.control;
    }
    EXPECT_EQ(RTE_ERR_BAD_PANEL, GetActiveCtrl(panel + 100));
}

TEST_F(Controls, ButtonLabelsShowTheShortcutLetterWithoutTheMarker) {
    const auto quit = rte::ParseButtonLabel("退出(__Y)");
    EXPECT_EQ(quit.text, "退出(Y)");
    EXPECT_EQ(quit.shortcut, 'Y');
    const auto plain = rte::ParseButtonLabel("OK");
    EXPECT_EQ(plain.text, "OK");
    EXPECT_EQ(plain.shortcut, 0);
    EXPECT_EQ(rte::ParseButtonLabel("a__").text, "a__");
}

}  // namespace
