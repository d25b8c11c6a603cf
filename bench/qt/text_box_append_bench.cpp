// How fast the Qt window takes a flash read shown in the log: 40,000 hex
// lines of 52 characters (640 KiB) appended by a worker thread through the
// engine, each scrolled to as the program's log does, while a timer on the
// window's thread measures how late the event loop answers.
//
//   text_box_append_bench [PANEL_FILE]
//
// Prints the lines per second until the window shows every line, the rate
// the worker could write them, and the event loop's lateness, both in wall
// time and in CPU time the window's thread spent between two ticks (which a
// busy machine does not inflate).
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTimer>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "panel_callbacks.h"
#include "rte.h"
#include "rte_frontend.h"
#include "rte_qt.h"

namespace {

constexpr int kLines = 40000;
constexpr int kProbeMs = 5;

int Ignore(int, int, int, void*, int, int) {
    return 0;
}

qint64 ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double PercentileMs(std::vector<qint64> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    return double(values[index]) / 1e6;
}

struct LogBox {
    int panel = 0;
    int control = 0;
    std::string constant;
};

LogBox FindLog() {
    for (const int panel : rte::Panels()) {
        const auto info = rte::Panel(panel);
        for (const int id : info ? info->controls : std::vector<int>{}) {
            const auto control = rte::Control(panel, id);
            if (control && control->constant == "TABOPS_LOG") {
                return {panel, id, control->constant};
            }
        }
    }
    return {};
}

// 0000:FF FF ... FF, the line the program shows for each 16 bytes read.
std::string HexLine(unsigned offset) {
    static const char digits[] = "0123456789ABCDEF";
    std::string line(52, ' ');
    for (int i = 0; i < 4; ++i) {
        line[static_cast<std::size_t>(i)] = digits[(offset >> (12 - 4 * i)) & 0xF];
    }
    line[4] = ':';
    for (unsigned b = 0; b < 16; ++b) {
        const unsigned byte = (offset * 7 + b * 13) & 0xFF;
        line[5 + b * 3] = digits[byte >> 4];
        line[6 + b * 3] = digits[byte & 0xF];
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    if (RTE_InstallQtFrontEnd(&argc, argv) != 0) {
        return 1;
    }
    const std::string file = argc > 1 ? argv[1] : CHIPLOAD_DEFAULT_PANEL_FILE;
    try {
        const auto names = rte_qt::ReadPanelCallbackNames(file);
        rte_qt::RegisterCallbacks(names.controls, Ignore);
        rte_qt::RegisterCallbacks(names.closes, Ignore);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (InitRTEEx(nullptr, argv, nullptr) == 0) {
        return 1;
    }
    const int panel = LoadPanel(0, file.c_str(), 1);
    if (panel < 0) {
        std::fprintf(stderr, "%s\n", RTE_GetLastErrorText());
        return 1;
    }
    DisplayPanel(panel);
    const LogBox log = FindLog();
    if (log.panel == 0) {
        std::fprintf(stderr, "the panel has no TABOPS_LOG text box\n");
        return 1;
    }

    // Lateness of a 5 ms timer on the window's thread while the lines flow.
    std::vector<qint64> lateness, busy;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 lastCpu = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        lateness.push_back(std::max<qint64>(0, now - lastTick - qint64(kProbeMs) * 1000000));
        lastTick = now;
        const qint64 cpu = ThreadCpuNs();
        busy.push_back(cpu - lastCpu);
        lastCpu = cpu;
    });

    std::atomic<qint64> writerDoneNs{0};
    qint64 shownNs = 0;
    std::thread writer;
    QPlainTextEdit* box = nullptr;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (box != nullptr && box->blockCount() >= kLines) {
            shownNs = clock.nsecsElapsed();
            QuitUserInterface(0);
        }
    });

    QTimer::singleShot(200, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* found =
                    top->findChild<QPlainTextEdit*>(QString::fromStdString(log.constant))) {
                box = found;
            }
        }
        clock.start();
        lastTick = 0;
        lastCpu = ThreadCpuNs();
        probe.start();
        watcher.start(1);
        writer = std::thread([&] {
            int count = 0;
            for (unsigned i = 0; i < kLines; ++i) {
                // The program's "log": scroll to the end, then append.
                GetNumTextBoxLines(log.panel, log.control, &count);
                SetCtrlAttribute(log.panel, log.control, ATTR_FIRST_VISIBLE_LINE, count);
                InsertTextBoxLine(log.panel, log.control, -1, HexLine(i * 16).c_str());
            }
            writerDoneNs = clock.nsecsElapsed();
        });
    });
    RunUserInterface();
    writer.join();
    probe.stop();

    const double shownS = double(shownNs) / 1e9;
    const double writtenS = double(writerDoneNs.load()) / 1e9;
    std::printf("lines: %d of 52 characters (%s)\n", kLines,
                qPrintable(QGuiApplication::platformName()));
    std::printf("shown in the window: %.3f s, %.0f lines/s\n", shownS, kLines / shownS);
    std::printf("written by the worker: %.3f s, %.0f lines/s\n", writtenS, kLines / writtenS);
    std::printf(
        "event loop lateness (%zu ticks of %d ms): median %.2f ms, p99 %.2f ms, max %.2f ms\n",
        lateness.size(), kProbeMs, PercentileMs(lateness, 0.5), PercentileMs(lateness, 0.99),
        PercentileMs(lateness, 1.0));
    std::printf("window thread CPU between ticks: median %.2f ms, p99 %.2f ms, max %.2f ms\n",
                PercentileMs(busy, 0.5), PercentileMs(busy, 0.99), PercentileMs(busy, 1.0));
    DiscardPanel(panel);
    return box != nullptr && box->blockCount() >= kLines ? 0 : 1;
}
