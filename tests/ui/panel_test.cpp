// ChipLoad.uir as the program loads it: every control the program drives is
// there with its kind and ID, every callback is bound, the header agrees
// with the file, and the layout is tidy.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "ChipLoad.h"
#include "rte.h"
#include "rte_callbacks.h"
#include "rte_headless.h"

namespace {

using rte::ControlKind;

int Dummy(int, int, int, void*, int, int) {
    return 0;
}

const char* const kCallbacks[] = {
    "MainQuitCb",
    "TimerCB",
    "TideCommOpenCloseCB",
    "DTRCTRLCB",
    "RTSCTRLCB",
    "DeveiceConnect",
    "ClearReceiveBoxCB",
    "ClearSendBoxCB",
    "ReceiveDisplayCB",
    "ClearReceiveCountCB",
    "ClearSendCountCB",
    "SendDataCB",
    "SendDataCb",
    "TimerIntervalCb",
    "comm_loadfile",
    "ReceiveLogCB",
    "TxtSendModeCB",
    "loadFile",
    "saveFile",
    "chip_erase",
    "chip_read",
    "FlashWrite",
    "flashExcute",
    "flash_op_clear",
    "set_page_addr",
    "page_read",
    "page_erase",
    "check_blank",
    "read_unprotect",
    "write_unprotect",
};

class Panel : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kCallbacks) {
            RTE_RegisterCallback(name, Dummy);
        }
        op = rte::Headless::Install();
        ASSERT_EQ(InitRTEEx(nullptr, nullptr, nullptr), 1);
        main = LoadPanel(0, "ChipLoad.uir", PANEL);  // found beside this executable
        ASSERT_GT(main, 0) << RTE_GetLastErrorText();
        ASSERT_EQ(GetPanelHandleFromTabPage(main, PANEL_TAB, 0, &isp), RTE_OK);
        ASSERT_EQ(GetPanelHandleFromTabPage(main, PANEL_TAB, 1, &term), RTE_OK);
        ASSERT_EQ(GetPanelHandleFromTabPage(main, PANEL_TAB, 2, &third), RTE_OK);
        ASSERT_EQ(GetPanelHandleFromTabPage(isp, TABISP_TAB, 0, &ops), RTE_OK);
        ASSERT_EQ(GetPanelHandleFromTabPage(isp, TABISP_TAB, 1, &ops2), RTE_OK);
    }
    void TearDown() override { RTE_CloseEngine(); }

    std::shared_ptr<rte::Headless> op;
    int main = 0, isp = 0, term = 0, third = 0, ops = 0, ops2 = 0;
};

TEST_F(Panel, EveryControlTheProgramDrivesHasItsIdAndKind) {
    struct Expect {
        int* panel;
        const char* constant;
        int macro;
        int id;
        ControlKind kind;
    };
    const Expect table[] = {
        {&main, "PANEL_TAB", PANEL_TAB, 2, ControlKind::Tab},
        {&main, "PANEL_STATUS", PANEL_STATUS, 4, ControlKind::String},
        {&main, "PANEL_TIME", PANEL_TIME, 7, ControlKind::String},
        {&main, "PANEL_COMPORT", PANEL_COMPORT, 10, ControlKind::Numeric},
        {&main, "PANEL_BAUDRATE", PANEL_BAUDRATE, 12, ControlKind::Numeric},
        {&main, "PANEL_DATABITS", PANEL_DATABITS, 13, ControlKind::Numeric},
        {&main, "PANEL_PARITY", PANEL_PARITY, 14, ControlKind::Ring},
        {&main, "PANEL_STOPBITS", PANEL_STOPBITS, 15, ControlKind::Numeric},
        {&main, "PANEL_CDLED", PANEL_CDLED, 17, ControlKind::Led},
        {&main, "PANEL_DSRLED", PANEL_DSRLED, 18, ControlKind::Led},
        {&main, "PANEL_CTSLED", PANEL_CTSLED, 19, ControlKind::Led},
        {&main, "PANEL_RINGLED", PANEL_RINGLED, 20, ControlKind::Led},
        {&main, "PANEL_DTRLED", PANEL_DTRLED, 21, ControlKind::Led},
        {&main, "PANEL_RTSLED", PANEL_RTSLED, 23, ControlKind::Led},
        {&main, "PANEL_OPENLED", PANEL_OPENLED, 25, ControlKind::Led},
        {&main, "PANEL_OPENCLOSE", PANEL_OPENCLOSE, 26, ControlKind::Toggle},
        {&main, "PANEL_DTR", PANEL_DTR, 27, ControlKind::Toggle},
        {&main, "PANEL_RTS", PANEL_RTS, 28, ControlKind::Toggle},
        {&main, "PANEL_CONNECT", PANEL_CONNECT, 32, ControlKind::Button},
        {&isp, "TABISP_HEXPATH", TABISP_HEXPATH, 2, ControlKind::String},
        {&isp, "TABISP_TAB", TABISP_TAB, 4, ControlKind::Tab},
        {&isp, "TABISP_FILETYPE", TABISP_FILETYPE, 5, ControlKind::Numeric},
        {&isp, "TABISP_FILESIZE", TABISP_FILESIZE, 6, ControlKind::String},
        {&term, "TABTERM_RECEIVE", TABTERM_RECEIVE, 2, ControlKind::TextBox},
        {&term, "TABTERM_SEND", TABTERM_SEND, 5, ControlKind::TextBox},
        {&term, "TABTERM_SENDHEX", TABTERM_SENDHEX, 6, ControlKind::Switch},
        {&term, "TABTERM_ADDLF", TABTERM_ADDLF, 8, ControlKind::Switch},
        {&term, "TABTERM_ADDCR", TABTERM_ADDCR, 9, ControlKind::Switch},
        {&term, "TABTERM_TXTPATH", TABTERM_TXTPATH, 10, ControlKind::String},
        {&term, "TABTERM_AUTOSEND", TABTERM_AUTOSEND, 12, ControlKind::Switch},
        {&term, "TABTERM_INTERVAL", TABTERM_INTERVAL, 14, ControlKind::Numeric},
        {&term, "TABTERM_MODE", TABTERM_MODE, 17, ControlKind::Numeric},
        {&term, "TABTERM_DISPLAYLED", TABTERM_DISPLAYLED, 19, ControlKind::Led},
        {&term, "TABTERM_DISPLAY", TABTERM_DISPLAY, 20, ControlKind::Switch},
        {&term, "TABTERM_RXCOUNT", TABTERM_RXCOUNT, 25, ControlKind::Numeric},
        {&term, "TABTERM_TXCOUNT", TABTERM_TXCOUNT, 26, ControlKind::Numeric},
        {&term, "TABTERM_RXLED", TABTERM_RXLED, 27, ControlKind::Led},
        {&term, "TABTERM_TXLED", TABTERM_TXLED, 28, ControlKind::Led},
        {&term, "TABTERM_TIMER", TABTERM_TIMER, 29, ControlKind::Timer},
        {&term, "TABTERM_TIMESTAMP", TABTERM_TIMESTAMP, 70, ControlKind::Switch},
        {&term, "TABTERM_LOGFILE", TABTERM_LOGFILE, 71, ControlKind::Toggle},
        {&term, "TABTERM_TXTBYLINE", TABTERM_TXTBYLINE, 72, ControlKind::Switch},
        {&third, "TABTHIRD_VERSION", TABTHIRD_VERSION, 2, ControlKind::String},
        {&ops, "TABOPS_CHIP", TABOPS_CHIP, 3, ControlKind::Ring},
        {&ops, "TABOPS_PID", TABOPS_PID, 4, ControlKind::String},
        {&ops, "TABOPS_UID", TABOPS_UID, 5, ControlKind::String},
        {&ops, "TABOPS_VERSION", TABOPS_VERSION, 6, ControlKind::String},
        {&ops, "TABOPS_DEVICE", TABOPS_DEVICE, 40, ControlKind::String},
        {&ops, "TABOPS_STARTPAGE", TABOPS_STARTPAGE, 18, ControlKind::Numeric},
        {&ops, "TABOPS_ENDPAGE", TABOPS_ENDPAGE, 19, ControlKind::Numeric},
        {&ops, "TABOPS_LOG", TABOPS_LOG, 28, ControlKind::TextBox},
        {&ops, "TABOPS_PROGRESS", TABOPS_PROGRESS, 29, ControlKind::Numeric},
        {&ops, "TABOPS_RAMSIZE", TABOPS_RAMSIZE, 30, ControlKind::String},
        {&ops, "TABOPS_FLASHSIZE", TABOPS_FLASHSIZE, 31, ControlKind::String},
        {&ops, "TABOPS_VERIFY", TABOPS_VERIFY, 62, ControlKind::Toggle},
    };
    for (const auto& e : table) {
        EXPECT_EQ(e.macro, e.id) << e.constant << " in ChipLoad.h";
        const auto c = rte::Control(*e.panel, e.id);
        ASSERT_TRUE(c) << e.constant << " missing";
        EXPECT_EQ(c->constant, e.constant);
        EXPECT_EQ(c->kind, e.kind) << e.constant << " is " << rte::ControlKindName(c->kind);
    }
    // Values the program reads with their own types.
    EXPECT_TRUE(rte::Control(term, TABTERM_INTERVAL)->isDouble);
    EXPECT_FALSE(rte::Control(main, PANEL_BAUDRATE)->isDouble);
    EXPECT_EQ(rte::Control(ops, TABOPS_PROGRESS)->style, "progress");
}

TEST_F(Panel, TabPagesAreTheProgramsPanels) {
    EXPECT_EQ(rte::Panel(isp)->constant, "TABISP");
    EXPECT_EQ(rte::Panel(term)->constant, "TABTERM");
    EXPECT_EQ(rte::Panel(third)->constant, "TABTHIRD");
    EXPECT_EQ(rte::Panel(ops)->constant, "TABOPS");
    EXPECT_EQ(rte::Panel(ops2)->constant, "TABOPS2");
    EXPECT_EQ(rte::Control(main, PANEL_TAB)->pages.size(), 3u);
    EXPECT_EQ(rte::Control(isp, TABISP_TAB)->pages.size(), 2u);
}

TEST_F(Panel, EveryCallbackIsBoundWhereItsRoleNeedsIt) {
    std::multimap<std::string, std::pair<int, int>> bound;  // name -> (panel, control)
    for (const int p : rte::Panels()) {
        const auto panel = rte::Panel(p);
        for (const int id : panel->controls) {
            const auto c = rte::Control(p, id);
            if (c->hasCallback) {
                bound.emplace(c->callbackName, std::make_pair(p, id));
            }
        }
    }
    for (const char* name : kCallbacks) {
        EXPECT_EQ(bound.count(name) >= 1, true) << name << " is bound to no control";
    }
    const auto on = [&](const char* name, int panel, int control) {
        const auto range = bound.equal_range(name);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second == std::make_pair(panel, control)) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(on("DeveiceConnect", main, PANEL_CONNECT));
    EXPECT_TRUE(on("TideCommOpenCloseCB", main, PANEL_OPENCLOSE));
    EXPECT_TRUE(on("DTRCTRLCB", main, PANEL_DTR));
    EXPECT_TRUE(on("RTSCTRLCB", main, PANEL_RTS));
    EXPECT_TRUE(on("TimerCB", main, PANEL_CLOCK));
    EXPECT_EQ(rte::Control(main, PANEL_CLOCK)->kind, ControlKind::Timer);
    EXPECT_TRUE(on("MainQuitCb", main, PANEL_QUIT));
    EXPECT_TRUE(rte::Panel(main)->hasCloseCallback) << "closing the window must ask to quit";
    EXPECT_TRUE(on("SendDataCb", term, TABTERM_TIMER));
    EXPECT_TRUE(on("TimerIntervalCb", term, TABTERM_INTERVAL));
    EXPECT_TRUE(on("ReceiveDisplayCB", term, TABTERM_DISPLAY));
    EXPECT_TRUE(on("ReceiveLogCB", term, TABTERM_LOGFILE));
    EXPECT_TRUE(on("TxtSendModeCB", term, TABTERM_TXTBYLINE));
    EXPECT_TRUE(on("set_page_addr", ops, TABOPS_STARTPAGE));
    EXPECT_TRUE(on("set_page_addr", ops, TABOPS_ENDPAGE));
    for (const char* name :
         {"chip_erase", "page_erase", "FlashWrite", "flashExcute", "chip_read", "page_read",
          "check_blank", "flash_op_clear", "read_unprotect", "write_unprotect"}) {
        const auto range = bound.equal_range(name);
        ASSERT_NE(range.first, range.second) << name;
        EXPECT_EQ(range.first->second.first, ops) << name << " is not on the operations page";
        EXPECT_EQ(rte::Control(ops, range.first->second.second)->kind, ControlKind::Button);
    }
    // Nothing is bound that the program does not define.
    const std::set<std::string> known(std::begin(kCallbacks), std::end(kCallbacks));
    for (const auto& [name, where] : bound) {
        EXPECT_TRUE(known.contains(name)) << name;
    }
}

TEST_F(Panel, TheHeaderAgreesWithTheFile) {
    std::ifstream header(CHIPLOAD_UI_HEADER);
    ASSERT_TRUE(header) << CHIPLOAD_UI_HEADER;
    std::map<std::string, int> macros;
    for (std::string line; std::getline(header, line);) {
        std::istringstream words(line);
        std::string directive, name;
        int value = 0;
        if (words >> directive >> name >> value && directive == "#define") {
            macros[name] = value;
        }
    }
    std::map<std::string, int> inFile;
    for (const int p : rte::Panels()) {
        const auto panel = rte::Panel(p);
        inFile[panel->constant] = panel->resourceId;
        for (const int id : panel->controls) {
            const auto c = rte::Control(p, id);
            if (!c->constant.empty()) {
                inFile[c->constant] = c->id;
            }
        }
    }
    EXPECT_EQ(macros, inFile);
}

TEST_F(Panel, RingsOfferTheCodesTheProgramTakes) {
    const auto parity = rte::Control(main, PANEL_PARITY);
    std::set<int> values;
    for (const auto& item : parity->items) {
        values.insert(item.value);
    }
    EXPECT_EQ(values, (std::set<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(std::get<int>(parity->value), 2) << "the bootloader needs even parity";

    const auto chip = rte::Control(ops, TABOPS_CHIP);
    values.clear();
    for (const auto& item : chip->items) {
        values.insert(item.value);
    }
    for (int v = 1; v <= 7; ++v) {
        EXPECT_TRUE(values.contains(v)) << "TABOPS_CHIP cannot show " << v;
    }
    EXPECT_EQ(SetCtrlAttribute(ops, TABOPS_CHIP, ATTR_CTRL_INDEX, 0), RTE_OK);
}

TEST_F(Panel, DefaultsLetAConnectPassItsChecks) {
    EXPECT_GE(op->intValue(main, PANEL_BAUDRATE), 1200);
    EXPECT_LE(op->intValue(main, PANEL_BAUDRATE), 115200);
    EXPECT_EQ(op->intValue(main, PANEL_DATABITS), 8);
    EXPECT_EQ(op->intValue(main, PANEL_STOPBITS), 1);
    EXPECT_EQ(op->intValue(term, TABTERM_MODE), 1);
    EXPECT_EQ(op->intValue(term, TABTERM_DISPLAY), 1);
    EXPECT_GE(op->intValue(main, PANEL_COMPORT), 1);
    EXPECT_LE(op->intValue(main, PANEL_COMPORT), 10);
}

TEST_F(Panel, ControlsFitTheirPanelsAndDoNotOverlap) {
    const auto top = rte::Panel(main);
    EXPECT_GE(top->width, 900);
    EXPECT_LE(top->width, 1100);
    EXPECT_GE(top->height, 600);
    EXPECT_LE(top->height, 800);
    for (const int p : rte::Panels()) {
        const auto panel = rte::Panel(p);
        std::vector<rte::ControlInfo> placed;
        for (const int id : panel->controls) {
            const auto c = *rte::Control(p, id);
            if (c.kind == ControlKind::Timer) {
                continue;
            }
            EXPECT_GE(c.left, 0) << c.constant;
            EXPECT_GE(c.top, 0) << c.constant;
            EXPECT_LE(c.left + c.width, panel->width) << panel->constant << " " << c.constant;
            EXPECT_LE(c.top + c.height, panel->height) << panel->constant << " " << c.constant;
            if (c.kind != ControlKind::Decoration) {
                placed.push_back(c);
            }
        }
        for (std::size_t i = 0; i < placed.size(); ++i) {
            for (std::size_t j = i + 1; j < placed.size(); ++j) {
                const auto& a = placed[i];
                const auto& b = placed[j];
                const bool apart = a.left + a.width <= b.left || b.left + b.width <= a.left ||
                                   a.top + a.height <= b.top || b.top + b.height <= a.top;
                EXPECT_TRUE(apart) << a.constant << " overlaps " << b.constant;
            }
        }
    }
}

}  // namespace
