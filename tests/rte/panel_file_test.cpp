// Loading panel files that are missing or wrong: a negative handle and a
// message saying what is wrong and where, and nothing half-loaded.
#include <string>

#include "rte_test_support.h"

namespace {

int pf_known(int, int, int, void*, int, int) {
    return 0;
}

std::string Panel(const std::string& controls, const std::string& extra = "") {
    return R"({"format": "chipload-panel-file", "version": 1, "panels": [{"id": 1, "constant": "P",)" +
           extra + R"("controls": [)" + controls + "]}]}";
}

class PanelFile : public ::testing::Test {
  protected:
    void SetUp() override { RTE_RegisterCallback("pf_known", pf_known); }

    // Loads text; returns the result and leaves the message in error.
    int Load(const std::string& text, int id = 1) {
        rte_test::TempFile file(text);
        const int result = LoadPanel(0, file.path().c_str(), id);
        error = RTE_GetLastErrorText();
        return result;
    }

    rte_test::RunningEngine engine;
    std::string error;
};

TEST_F(PanelFile, AMissingFileNamesEveryPlaceLookedAt) {
    EXPECT_EQ(LoadPanel(0, "NoSuchPanel.uir", 1), RTE_ERR_FILE_NOT_FOUND);
    const std::string message = RTE_GetLastErrorText();
    EXPECT_NE(message.find("NoSuchPanel.uir"), std::string::npos);
    EXPECT_NE(message.find("share/chipload"), std::string::npos) << message;
    EXPECT_NE(message.find("bin"), std::string::npos) << message;
    EXPECT_EQ(LoadPanel(0, "/nonexistent/dir/x.uir", 1), RTE_ERR_FILE_NOT_FOUND);
    EXPECT_TRUE(rte::Panels().empty());
}

TEST_F(PanelFile, SyntaxErrorsGiveLineAndColumn) {
    EXPECT_EQ(Load("{\n  \"format\": \"chipload-panel-file\",\n  \"version\" 1\n}"),
              RTE_ERR_BAD_PANEL_FILE);
    EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    EXPECT_NE(error.find("panel.uir"), std::string::npos) << error;
    EXPECT_EQ(Load(""), RTE_ERR_BAD_PANEL_FILE);
}

TEST_F(PanelFile, DescriptionErrorsNameThePanelAndControl) {
    const std::string good =
        R"({"id": 2, "constant": "P_A", "kind": "numeric", "left": 0, "top": 0, "width": 1, "height": 1})";
    struct Case {
        std::string text, expect;
    } cases[] = {
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "knob", "left": 0, "top": 0, "width": 1, "height": 1})"),
         "unknown kind \"knob\""},
        {Panel(good + "," + good), "used twice"},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "numeric", "left": 0, "top": 0, "width": 1, "height": 1, "colour": 1})"),
         "unknown member \"colour\""},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "numeric", "left": 0, "top": 0, "width": 1})"),
         "\"height\" is missing"},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "ring", "left": 0, "top": 0, "width": 1, "height": 1, "items": [{"label": "a", "value": 1}], "value": 5})"),
         "not the value of an item"},
        {Panel(
             R"({"id": "2", "constant": "P_A", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1})"),
         "\"id\" must be an integer"},
        {R"({"format": "other", "version": 1, "panels": []})", "\"format\""},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1, "follow": {"x": [1, 0]}})"),
         "\"x\" must hold shares"},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1, "follow": {"y": [0, 1.5]}})"),
         "\"y\" must hold shares"},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1, "follow": {"x": 1}})"),
         "\"x\" must be a pair"},
        {Panel(
             R"({"id": 2, "constant": "P_A", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1, "follow": {"z": [0, 1]}})"),
         "unknown member \"z\""},
        {Panel("", R"("width": 100, "height": 80, "min_width": 120,)"), "\"min_width\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load(c.text), RTE_ERR_BAD_PANEL_FILE) << c.text;
        EXPECT_NE(error.find(c.expect), std::string::npos) << "message: " << error;
        if (c.text.find("P_A") != std::string::npos) {
            EXPECT_NE(error.find("P_A"), std::string::npos) << "message: " << error;
        }
    }
    EXPECT_TRUE(rte::Panels().empty()) << "a bad file left a panel behind";
}

TEST_F(PanelFile, AnUnknownCallbackFailsTheLoadAndIsNamed) {
    const std::string text = Panel(
        R"({"id": 2, "constant": "P_A", "kind": "button", "left": 0, "top": 0, "width": 1, "height": 1, "callback": "pf_known"},
           {"id": 3, "constant": "P_B", "kind": "button", "left": 0, "top": 0, "width": 1, "height": 1, "callback": "pf_nobody"})",
        R"("close_callback": "pf_absent",)");
    EXPECT_EQ(Load(text), RTE_ERR_UNKNOWN_CALLBACK);
    EXPECT_NE(error.find("\"pf_nobody\""), std::string::npos) << error;
    EXPECT_NE(error.find("P_B"), std::string::npos) << error;
    EXPECT_NE(error.find("\"pf_absent\""), std::string::npos) << error;
    EXPECT_EQ(error.find("\"pf_known\""), std::string::npos) << error;
    EXPECT_TRUE(rte::Panels().empty());
}

TEST_F(PanelFile, FollowSharesAndTheSmallestSizeReachTheFrontEnd) {
    const int panel = Load(Panel(
        R"({"id": 2, "constant": "P_A", "kind": "textbox", "left": 0, "top": 0, "width": 9, "height": 9, "follow": {"x": [0, 1], "y": [0.25, 0.5]}},
           {"id": 3, "constant": "P_B", "kind": "led", "left": 0, "top": 0, "width": 1, "height": 1})",
        R"("width": 100, "height": 80, "min_width": 60, "min_height": 50,)"));
    ASSERT_GT(panel, 0) << error;
    const rte::Follow stretches{0, 1, 0.25, 0.5};
    EXPECT_EQ(rte::Control(panel, 2)->follow, stretches);
    EXPECT_EQ(rte::Control(panel, 3)->follow, rte::Follow{}) << "stays put by default";
    EXPECT_EQ(rte::Panel(panel)->minWidth, 60);
    EXPECT_EQ(rte::Panel(panel)->minHeight, 50);
}

TEST_F(PanelFile, APanelIdTheFileLacksIsRefused) {
    EXPECT_EQ(Load(Panel(""), 7), RTE_ERR_BAD_ARGUMENT);
    EXPECT_NE(error.find("no panel with ID 7"), std::string::npos) << error;
    EXPECT_GT(Load(Panel("")), 0);
    EXPECT_EQ(error, "") << "a good load keeps an old message";
}

}  // namespace
