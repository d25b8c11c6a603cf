// The terminal of the real window (Qt, offscreen when there is no display)
// under a continuous stream at 921600 baud 8N1 (92,160 bytes a second) from a
// pseudo-terminal, paced at the line rate by the writer.
//
//   terminal_stream_bench [SECONDS] [text|hex]
//
// Reports bytes sent, bytes the program counted, bytes lost (sent minus
// counted, and what the serial library says it dropped), the event loop's
// lateness (a 10 ms timer on the window's thread) in wall time and in CPU
// time the window's thread spent between two ticks (which other work on the
// machine does not inflate), the receive box's line count and the resident
// memory over the run.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ChipLoad.h"
#include "TideComm.h"
#include "port_map.h"
#include "pty_pair.h"
#include "rte.h"
#include "rte_frontend.h"
#include "rte_qt.h"
#include "startup.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kCom = 9;
constexpr int kBaud = 921600;
constexpr double kBytesPerSecond = kBaud / 10.0;  // 8N1: ten bits a byte
constexpr int kProbeMs = 10;
constexpr long kSettleTicks = 10;

qint64 ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

double PercentileMs(std::vector<qint64> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, std::size_t(p * double(values.size())));
    return double(values[index]) / 1e6;
}

int PanelNamed(const std::string& constant) {
    for (const int panel : rte::Panels()) {
        const auto info = rte::Panel(panel);
        if (info && info->constant == constant) {
            return panel;
        }
    }
    return 0;
}

// Lines of 64 bytes that a person would read, numbered so a gap would show.
std::string Stream(std::size_t count) {
    std::string bytes;
    bytes.reserve(count + 64);
    for (unsigned line = 0; bytes.size() < count; ++line) {
        char text[80];
        std::snprintf(text, sizeof text,
                      "%08u the quick brown fox jumps over the lazy dog 0123456\r\n", line);
        bytes += text;
    }
    bytes.resize(count);
    return bytes;
}

struct Results {
    long sent = 0;
    long counted = 0;
    long dropped = 0;
    int boxLines = 0;
    long rssStart = 0, rssMax = 0, rssEnd = 0;
    bool opened = false;
};

// Opens the terminal's port, then streams; `measuring` is on while the bytes flow.
void Drive(chipload::test::PtyPair& line, int seconds, int hexMode, std::atomic<bool>& measuring,
           const std::atomic<long>& ticks, Results& results) {
    int main = 0, term = 0;
    const auto waitStart = Clock::now();
    while ((main = PanelNamed("PANEL")) == 0 || (term = PanelNamed("TABTERM")) == 0) {
        if (Clock::now() - waitStart > 20s) {
            return;
        }
        std::this_thread::sleep_for(20ms);
    }
    rte::WaitForEventsProcessed(10s);
    rte::UserSetValue(main, PANEL_COMPORT, kCom);
    rte::UserSetValue(main, PANEL_BAUDRATE, kBaud);
    rte::UserSetValue(main, PANEL_PARITY, 0);
    rte::UserSetValue(term, TABTERM_MODE, hexMode);
    rte::UserClick(main, PANEL_OPENCLOSE);
    rte::WaitForEventsProcessed(10s);
    results.opened = TideComm_GetPortOpen(kCom) != 0;
    if (!results.opened) {
        return;
    }
    const std::string bytes =
        Stream(static_cast<std::size_t>(kBytesPerSecond * static_cast<double>(seconds)));
    // The window's own work on setting up (the display switched, the port
    // opened) is not the stream's: measure once its timer has come round a few times.
    const long settledAfter = ticks + kSettleTicks;
    while (ticks < settledAfter && Clock::now() - waitStart < 30s) {
        std::this_thread::sleep_for(5ms);
    }
    results.rssStart = results.rssMax = RssKiB();
    measuring = true;
    const auto start = Clock::now();
    auto nextRss = start + 1s;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const double due = std::chrono::duration<double>(Clock::now() - start).count();
        const std::size_t target =
            std::min(bytes.size(), static_cast<std::size_t>(due * kBytesPerSecond));
        if (target > written) {
            line.write(std::string_view(bytes).substr(written, target - written));
            written = target;
        }
        if (Clock::now() >= nextRss) {
            results.rssMax = std::max(results.rssMax, RssKiB());
            nextRss += 1s;
        }
        std::this_thread::sleep_for(2ms);
    }
    results.sent = static_cast<long>(written);
    measuring = false;
    // The last bytes: counted once the window has taken them.
    const auto settle = Clock::now();
    while (TideComm_GetReceiveCount(kCom) + TideComm_GetDroppedCount(kCom) < results.sent &&
           Clock::now() - settle < 10s) {
        std::this_thread::sleep_for(20ms);
    }
    rte::WaitForEventsProcessed(10s);
    results.counted = TideComm_GetReceiveCount(kCom);
    results.dropped = TideComm_GetDroppedCount(kCom);
    GetNumTextBoxLines(term, TABTERM_RECEIVE, &results.boxLines);
    results.rssEnd = RssKiB();
    results.rssMax = std::max(results.rssMax, results.rssEnd);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int hexMode = argc > 2 && std::string(argv[2]) == "hex" ? 1 : 0;
    if (!qEnvironmentVariableIsSet("DISPLAY") && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    int qtArgc = 1;
    if (RTE_InstallQtFrontEnd(&qtArgc, argv) != 0) {
        return 1;
    }
    chipload::test::PtyPair line;
    if (!chipload::portmap::assign(kCom, line.slavePath())) {
        return 1;
    }

    std::vector<qint64> lateness, busy;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 lastCpu = 0;
    std::atomic<bool> measuring{false};
    std::atomic<long> ticks{0};
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(kProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        if (measuring) {
            lateness.push_back(std::max<qint64>(0, now - lastTick - qint64(kProbeMs) * 1000000));
            busy.push_back(cpu - lastCpu);
        }
        lastTick = now;
        lastCpu = cpu;
        ++ticks;
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        probe.start();
    });

    Results results;
    // The report is written on the window's thread (where the lateness was
    // gathered), and the process ends there: the program's own quit asks
    // the operator first.
    const auto report = [&] {
        probe.stop();
        std::printf("terminal stream: %d s at %d baud 8N1, %s display (%s)\n", seconds, kBaud,
                    hexMode != 0 ? "hex" : "text", qPrintable(QGuiApplication::platformName()));
        if (!results.opened) {
            std::printf("the terminal port did not open\n");
            std::fflush(stdout);
            std::_Exit(1);
        }
        std::printf("bytes sent %ld, counted %ld, lost %ld (library dropped %ld)\n", results.sent,
                    results.counted, results.sent - results.counted, results.dropped);
        std::printf(
            "event loop lateness (%zu ticks of %d ms): median %.2f ms, p99 %.2f ms, max %.2f ms\n",
            lateness.size(), kProbeMs, PercentileMs(lateness, 0.5), PercentileMs(lateness, 0.99),
            PercentileMs(lateness, 1.0));
        std::printf(
            "window thread CPU between ticks (not inflated by a busy machine): median "
            "%.2f ms, p99 %.2f ms, max %.2f ms\n",
            PercentileMs(busy, 0.5), PercentileMs(busy, 0.99), PercentileMs(busy, 1.0));
        std::printf("receive box lines %d; RSS start %ld KiB, max %ld KiB, end %ld KiB\n",
                    results.boxLines, results.rssStart, results.rssMax, results.rssEnd);
        std::fflush(stdout);
        std::_Exit(results.sent == results.counted ? 0 : 2);
    };
    std::thread driver([&] {
        Drive(line, seconds, hexMode, measuring, ticks, results);
        QMetaObject::invokeMethod(qApp, report, Qt::QueuedConnection);
    });
    char commandLine[] = "";
    WinMain(nullptr, nullptr, commandLine, 1);
    driver.join();
    return 1;
}
