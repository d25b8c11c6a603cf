// ChipLoad's window at the scale QT_SCALE_FACTOR sets, on the screen the
// test's offscreen platform describes: at its smallest and maximised, in
// Chinese and in English, no control or caption leaves its panel or overlaps
// another; the smallest window fits the screen; the window comes back at the
// size it was closed at.
#include <QLabel>
#include <QScreen>
#include <QStackedWidget>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ChipLoad.h"
#include "panel_callbacks.h"
#include "qt_test_support.h"
#include "rte.h"
#include "rte_callbacks.h"
#include "rte_frontend.h"
#include "rte_language.h"

namespace qt_test {
namespace {

struct Placed {
    std::string name;
    QRect rect;  // in its panel
};

// Every drawn control and caption of a panel, and the panel's own area.
struct PanelPlacement {
    std::string panel;
    QRect area;
    std::vector<Placed> items;
};

class LayoutTest : public QtFrontEndTest, public ::testing::WithParamInterface<rte::Language> {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(rte::UseLanguage(GetParam(), CHIPLOAD_CATALOG_DIR, error)) << error;
        // Each test starts from a first run: no window size remembered.
        if (const char* settings = std::getenv("XDG_CONFIG_HOME")) {
            std::filesystem::remove_all(std::filesystem::path(settings) / "ChipLoad");
        }
        startChipLoad();
    }
    void TearDown() override {
        RTE_CloseEngine();
        std::string error;
        rte::UseLanguage(rte::Language::kChinese, "", error);
    }

    void startChipLoad() {
        start(CHIPLOAD_PANEL_FILE, [] {
            const auto names = rte_qt::ReadPanelCallbackNames(CHIPLOAD_PANEL_FILE);
            rte_qt::RegisterCallbacks(names.controls, Ignore);
            rte_qt::RegisterCallbacks(names.closes, Ignore);
        });
    }

    static int Ignore(int, int, int, void*, int, int) { return 0; }

    std::vector<PanelPlacement> placements() const {
        std::vector<PanelPlacement> all;
        for (const int panel : rte::Panels()) {
            const auto info = rte::Panel(panel);
            PanelPlacement placement;
            placement.panel = info->constant;
            QWidget* panelWidget = nullptr;
            for (const int id : info->controls) {
                const auto control = rte::Control(panel, id);
                if (control->kind == rte::ControlKind::Timer ||
                    (control->kind == rte::ControlKind::Decoration && control->style == "frame")) {
                    continue;  // frames hold controls by design
                }
                QWidget* body = nullptr;
                for (QWidget* w : window_->findChildren<QWidget*>()) {
                    if (w->objectName() == QString::fromStdString(control->constant) &&
                        w->parentWidget() != nullptr &&
                        w->parentWidget()->objectName() == QString::fromStdString(info->constant)) {
                        body = w;
                    }
                }
                if (control->constant.empty() || body == nullptr) {
                    continue;
                }
                panelWidget = body->parentWidget();
                placement.items.push_back({control->constant, body->geometry()});
                if (auto* caption = panelWidget->findChild<QLabel*>(
                        QString::fromStdString(control->constant + "_caption"),
                        Qt::FindDirectChildrenOnly)) {
                    placement.items.push_back(
                        {control->constant + " caption \"" + caption->text().toStdString() + "\"",
                         caption->geometry()});
                }
            }
            if (panelWidget == nullptr) {
                continue;
            }
            // Pages not on show are not laid out; they share their stack's size.
            auto* stack = qobject_cast<QStackedWidget*>(panelWidget->parentWidget());
            placement.area = QRect({0, 0}, stack ? stack->size() : panelWidget->size());
            all.push_back(std::move(placement));
        }
        return all;
    }

    void expectTidy(const char* name) const {
        const std::string state = std::string(name) + " " + Text(window_->rect());
        int checked = 0;
        for (const PanelPlacement& p : placements()) {
            for (std::size_t i = 0; i < p.items.size(); ++i) {
                ++checked;
                const Placed& a = p.items[i];
                EXPECT_TRUE(p.area.contains(a.rect))
                    << state << ": " << a.name << " " << Text(a.rect) << " leaves " << p.panel
                    << " " << Text(p.area);
                for (std::size_t j = i + 1; j < p.items.size(); ++j) {
                    const Placed& b = p.items[j];
                    EXPECT_FALSE(a.rect.intersects(b.rect))
                        << state << ": in " << p.panel << ", " << a.name << " " << Text(a.rect)
                        << " overlaps " << b.name << " " << Text(b.rect);
                }
            }
        }
        EXPECT_GT(checked, 100) << state;
    }

    static std::string Text(const QRect& r) {
        return "(" + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
               std::to_string(r.width()) + "x" + std::to_string(r.height()) + ")";
    }
};

TEST_P(LayoutTest, NothingLeavesItsPanelOrOverlapsAtTheSmallestSizeAndMaximised) {
    runUi([&] {
        const QSize screen = window_->screen()->availableGeometry().size();
        // Room for a window frame around the smallest window.
        EXPECT_LE(window_->minimumWidth() + 10, screen.width());
        EXPECT_LE(window_->minimumHeight() + 30, screen.height());
        EXPECT_LE(window_->width(), screen.width());
        EXPECT_LE(window_->height(), screen.height());

        window_->showNormal();
        window_->resize(window_->minimumSize());
        ASSERT_TRUE(waitFor([&] { return window_->size() == window_->minimumSize(); }));
        expectTidy("smallest");

        // The program's longest texts in the controls it renames.
        SetCtrlAttribute(panel_, PANEL_CONNECT, ATTR_LABEL_TEXT, "断开连接");
        SetCtrlVal(panel_, PANEL_COMDEVICE,
                   "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        QTest::qWait(50);
        expectTidy("smallest, renamed");

        const QSize smallest = window_->size();
        const QSize log = widget("TABOPS_LOG")->size();
        const QSize receive = widget("TABTERM_RECEIVE")->size();
        const QSize send = widget("TABTERM_SEND")->size();
        window_->showMaximized();
        ASSERT_TRUE(waitFor([&] { return window_->width() > window_->minimumWidth(); }));
        expectTidy("maximised");
        // The text boxes took the room: the log all of it, the terminal's
        // boxes the width and a share of the height each.
        const QSize growth = window_->size() - smallest;
        EXPECT_EQ(widget("TABOPS_LOG")->size() - log, growth);
        EXPECT_EQ(widget("TABTERM_RECEIVE")->width() - receive.width(), growth.width());
        EXPECT_EQ(widget("TABTERM_SEND")->width() - send.width(), growth.width());
        EXPECT_NEAR(widget("TABTERM_RECEIVE")->height() - receive.height() +
                        widget("TABTERM_SEND")->height() - send.height(),
                    growth.height(), 1);
    });
}

TEST_P(LayoutTest, TheWindowComesBackAtTheSizeItWasClosedAt) {
    QSize closedAt;
    runUi([&] {
        window_->showNormal();
        window_->resize(window_->minimumSize() + QSize(33, 21));
        ASSERT_TRUE(
            waitFor([&] { return window_->size() == window_->minimumSize() + QSize(33, 21); }));
        closedAt = window_->size();
    });
    RTE_CloseEngine();
    window_ = nullptr;
    startChipLoad();
    runUi([&] { EXPECT_EQ(window_->size(), closedAt); });
}

INSTANTIATE_TEST_SUITE_P(Languages, LayoutTest,
                         ::testing::Values(rte::Language::kChinese, rte::Language::kEnglish),
                         [](const auto& language) {
                             return language.param == rte::Language::kChinese ? "Chinese"
                                                                              : "English";
                         });

}  // namespace
}  // namespace qt_test
