// The language texts are shown in: chosen from --lang or the locale, and
// applied by the engine where texts are shown.
#include <cstdlib>
#include <cstring>

#include "rte_language.h"
#include "rte_test_support.h"

namespace {

using rte::Language;

// Sets the locale variables for one case and clears them afterwards.
class LocaleEnvironment {
  public:
    explicit LocaleEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
        clear();
        for (const auto& [name, value] : values) {
            setenv(name, value, 1);
        }
    }
    ~LocaleEnvironment() { clear(); }

  private:
    static void clear() {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            unsetenv(name);
        }
    }
};

TEST(Language, EnvironmentDecides) {
    struct Case {
        std::initializer_list<std::pair<const char*, const char*>> values;
        Language expected;
    };
    const Case cases[] = {
        {{}, Language::kChinese},
        {{{"LANG", "C"}}, Language::kChinese},
        {{{"LANG", "C.UTF-8"}}, Language::kChinese},
        {{{"LANG", "POSIX"}}, Language::kChinese},
        {{{"LANG", "zh_CN.UTF-8"}}, Language::kChinese},
        {{{"LANG", "en_GB.UTF-8"}}, Language::kEnglish},
        {{{"LANG", "de_DE.UTF-8"}}, Language::kEnglish},
        // The first variable that is set wins, in gettext's order.
        {{{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}}, Language::kEnglish},
        {{{"LC_ALL", "zh_TW.UTF-8"}, {"LC_MESSAGES", "fr_FR.UTF-8"}}, Language::kChinese},
        {{{"LANGUAGE", "zh_CN:en"}, {"LC_ALL", "en_US.UTF-8"}}, Language::kChinese},
        {{{"LANGUAGE", ""}, {"LANG", "sv_SE.UTF-8"}}, Language::kEnglish},
    };
    for (const Case& c : cases) {
        LocaleEnvironment environment(c.values);
        EXPECT_EQ(rte::LanguageFromEnvironment(), c.expected)
            << "case " << (&c - cases) << (c.values.size() ? c.values.begin()->second : "");
    }
}

TEST(Language, ParsesTheOptionsValue) {
    EXPECT_EQ(rte::ParseLanguage("en"), Language::kEnglish);
    EXPECT_EQ(rte::ParseLanguage("en_US"), Language::kEnglish);
    EXPECT_EQ(rte::ParseLanguage("zh"), Language::kChinese);
    EXPECT_EQ(rte::ParseLanguage("zh_CN.UTF-8"), Language::kChinese);
    EXPECT_EQ(rte::ParseLanguage("fr"), std::nullopt);
    EXPECT_EQ(rte::ParseLanguage(""), std::nullopt);
}

TEST(Language, WithoutTheCatalogTextsStayChinese) {
    std::string error;
    EXPECT_FALSE(rte::UseLanguage(Language::kEnglish, "/nonexistent/locale", error));
    EXPECT_NE(error.find("/nonexistent/locale/en/LC_MESSAGES/chipload.mo"), std::string::npos)
        << error;
    EXPECT_EQ(rte::CurrentLanguage(), Language::kChinese);
    EXPECT_STREQ(RTE_Translate("确定"), "确定");
}

constexpr const char* kPanel = R"({
  "format": "chipload-panel-file", "version": 1,
  "panels": [{"id": 1, "constant": "P", "controls": [
    {"id": 2, "constant": "P_STATUS", "kind": "string", "label": "状态", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 3, "constant": "P_LOG", "kind": "textbox", "left": 0, "top": 0, "width": 9, "height": 9},
    {"id": 4, "constant": "P_CONNECT", "kind": "button", "label": "连接设备", "left": 0, "top": 0, "width": 9, "height": 9}
  ]}]})";

std::string Value(int panel, int control) {
    char text[256];
    EXPECT_EQ(GetCtrlVal(panel, control, text, sizeof text), RTE_OK);
    return text;
}

std::string Label(int panel, int control) {
    char text[256];
    EXPECT_EQ(GetCtrlAttribute(panel, control, ATTR_LABEL_TEXT, text, sizeof text), RTE_OK);
    return text;
}

// Shown texts in English; text that is not in the catalog (a path, a device's
// reply) is shown as it is; Chinese again once asked for.
TEST(Language, TheEngineShowsTheCatalogsTexts) {
    std::string error;
    ASSERT_TRUE(rte::UseLanguage(Language::kEnglish, CHIPLOAD_CATALOG_DIR, error)) << error;
    rte_test::TempFile file(kPanel);
    rte::Headless::Options options;
    options.echo = true;
    options.rule = rte::Headless::PopupRule::FirstButton;
    rte_test::RunningEngine engine(options);
    const int panel = LoadPanel(0, file.path().c_str(), 1);
    ASSERT_GT(panel, 0);

    EXPECT_EQ(Label(panel, 2), "Status");
    EXPECT_EQ(Label(panel, 4), "Connect");
    SetCtrlAttribute(panel, 4, ATTR_LABEL_TEXT, "断开连接");
    EXPECT_EQ(Label(panel, 4), "Disconnect");
    SetCtrlVal(panel, 2, "文件读取完成");
    EXPECT_EQ(Value(panel, 2), "File read");
    SetCtrlVal(panel, 2, "/tmp/板子.hex");
    EXPECT_EQ(Value(panel, 2), "/tmp/板子.hex");
    InsertTextBoxLine(panel, 3, -1, "程序烧写完成");
    InsertTextBoxLine(panel, 3, -1, "Hello from the board");
    EXPECT_EQ(Value(panel, 3), "Programming complete\nHello from the board");

    char text[128];
    std::snprintf(text, sizeof text,
                  RTE_Translate("片内FLASH只有%u页，请重新选择起始页和终止页！！"), 64u);
    testing::internal::CaptureStdout();
    MessagePopup("告警", text);
    GenericMessagePopup("系统提示", "请您确认是否退出(Y/N)?", "退出(__Y)", "放弃(__N)", "", nullptr,
                        0, 0, 2, 1, 0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[message] Alarm: The flash has only 64 pages, please choose the first and last "
              "page again!!\n"
              "[question] System message: Please confirm that you want to quit (Y/N)? -> 1\n");

    ASSERT_TRUE(rte::UseLanguage(Language::kChinese, "", error));
    SetCtrlVal(panel, 2, "文件读取完成");
    EXPECT_EQ(Value(panel, 2), "文件读取完成");
}

}  // namespace
