// Shows a panel file in the Qt front end without the program behind it:
// every callback the file names does nothing, closing the window quits.
//
//   rte_qt_preview [--demo] [--shots DIR] [PANEL_FILE]
//
// --demo fills the panel with what an operator sees after identifying a
// target and reading a little flash; --shots saves every tab page of every
// window as DIR/<page>.png (DIR/<page>@2x.png at 200% scale) and quits.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "panel_callbacks.h"
#include "rte.h"
#include "rte_frontend.h"
#include "rte_qt.h"

namespace {

int Ignore(int, int, int, void*, int, int) {
    return 0;
}

int QuitOnClose(int, int, int event, void*, int, int) {
    if (event == EVENT_COMMIT) {
        QuitUserInterface(0);
    }
    return 0;
}

struct Where {
    int panel = 0;
    int control = 0;
};

std::optional<Where> FindControl(const std::string& constant) {
    for (const int panel : rte::Panels()) {
        const auto info = rte::Panel(panel);
        for (const int id : info ? info->controls : std::vector<int>{}) {
            const auto control = rte::Control(panel, id);
            if (control && control->constant == constant) {
                return Where{panel, id};
            }
        }
    }
    return std::nullopt;
}

void SetText(const char* constant, const char* text) {
    if (const auto at = FindControl(constant)) {
        SetCtrlVal(at->panel, at->control, text);
    }
}

void SetInt(const char* constant, int value) {
    if (const auto at = FindControl(constant)) {
        SetCtrlVal(at->panel, at->control, value);
    }
}

void FillDemo() {
    SetText("PANEL_STATUS", "Flash读取完成！！！");
    SetText("PANEL_TIME", "09:41:27");
    for (const char* led :
         {"PANEL_OPENLED", "PANEL_DTRLED", "PANEL_RTSLED", "TABTERM_DISPLAYLED"}) {
        SetInt(led, 1);
    }
    SetText("TABOPS_VERSION", "2.2");
    SetText("TABOPS_PID", "0410");
    SetText("TABOPS_DEVICE", "STM32F10xxx medium-density (F1)");
    SetText("TABOPS_FLASHSIZE", "64KB");
    SetText("TABOPS_RAMSIZE", "20KB");
    SetText("TABOPS_UID", "066DFF34 3332 4B43 43204829");
    SetText("TABISP_HEXPATH", "/home/engineer/blinky.hex");
    SetText("TABISP_FILESIZE", "3KB");
    if (const auto log = FindControl("TABOPS_LOG")) {
        InsertTextBoxLine(log->panel, log->control, -1, "开始启动ChipLoad程序~~~~~~~");
        InsertTextBoxLine(log->panel, log->control, -1, "开始分页读取FLASH信息...");
        char line[64];
        for (unsigned offset = 0; offset < 0x100; offset += 16) {
            std::snprintf(line, sizeof line, "%04X:00 50 00 20 ED 00 00 08 A5 03 00 08 A9 03 00 08",
                          offset);
            InsertTextBoxLine(log->panel, log->control, -1, line);
        }
        InsertTextBoxLine(log->panel, log->control, -1, "Flash读取完成.");
    }
    if (const auto progress = FindControl("TABOPS_PROGRESS")) {
        SetCtrlAttribute(progress->panel, progress->control, ATTR_MAX_VALUE, 256);
        SetCtrlVal(progress->panel, progress->control, 256);
    }
    if (const auto receive = FindControl("TABTERM_RECEIVE")) {
        SetInt("TABTERM_TIMESTAMP", 1);
        SetInt("TABTERM_MODE", 0);
        for (const char* line :
             {"[09:41:25.118] 你好，ChipLoad！", "[09:41:26.120] uptime 1 s, adc 1.652 V",
              "[09:41:27.121] uptime 2 s, adc 1.649 V"}) {
            InsertTextBoxLine(receive->panel, receive->control, -1, line);
        }
    }
    SetText("TABTERM_SEND", "AT+VERSION?");
}

// Makes page the visible one, opening every tab control that holds it.
void Reveal(QWidget* page) {
    for (QWidget* child = page; child != nullptr; child = child->parentWidget()) {
        for (QWidget* up = child->parentWidget(); up != nullptr; up = up->parentWidget()) {
            if (auto* tabs = qobject_cast<QTabWidget*>(up)) {
                const int index = tabs->indexOf(child);
                if (index >= 0) {
                    tabs->setCurrentIndex(index);
                }
                break;
            }
        }
    }
}

int SaveShots(const QString& directory) {
    QDir().mkpath(directory);
    int saved = 0;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) {
            continue;
        }
        for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
            for (int i = 0; i < tabs->count(); ++i) {
                QWidget* page = tabs->widget(i);
                Reveal(page);
                QApplication::processEvents();
                const QPixmap shot = window->grab();
                const QString suffix = shot.devicePixelRatio() > 1.5 ? "@2x" : "";
                const QString file =
                    directory + "/" + page->objectName().toLower() + suffix + ".png";
                if (!shot.save(file)) {
                    std::fprintf(stderr, "rte_qt_preview: cannot write %s\n", qPrintable(file));
                    return -1;
                }
                std::printf("%s\n", qPrintable(file));
                ++saved;
            }
        }
    }
    return saved;
}

}  // namespace

int main(int argc, char** argv) {
    if (RTE_InstallQtFrontEnd(&argc, argv) != 0) {
        return 1;
    }
    bool demo = false;
    QString shots;
    std::string file = CHIPLOAD_DEFAULT_PANEL_FILE;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(argv[i], "--shots") == 0 && i + 1 < argc) {
            shots = QString::fromLocal8Bit(argv[++i]);
        } else if (argv[i][0] != '-') {
            file = argv[i];
        } else {
            std::fprintf(stderr, "usage: rte_qt_preview [--demo] [--shots DIR] [PANEL_FILE]\n");
            return 2;
        }
    }
    try {
        const auto names = rte_qt::ReadPanelCallbackNames(file);
        rte_qt::RegisterCallbacks(names.controls, Ignore);
        rte_qt::RegisterCallbacks(names.closes, QuitOnClose);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rte_qt_preview: %s\n", e.what());
        return 1;
    }
    if (InitRTEEx(nullptr, argv, nullptr) == 0) {
        return 1;
    }
    const int panel = LoadPanel(0, file.c_str(), 1);
    if (panel < 0) {
        std::fprintf(stderr, "rte_qt_preview: %s\n", RTE_GetLastErrorText());
        return 1;
    }
    if (demo) {
        FillDemo();
    }
    DisplayPanel(panel);
    int result = 0;
    if (!shots.isEmpty()) {
        // Let the window settle (fonts, first layout) before drawing it.
        QTimer::singleShot(300, [&] {
            result = SaveShots(shots) > 0 ? 0 : 1;
            QuitUserInterface(0);
        });
    }
    RunUserInterface();
    DiscardPanel(panel);
    return result;
}
