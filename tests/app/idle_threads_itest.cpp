// With nothing to do every thread of the program sleeps: a thread that looks
// for work on a short period shows up as context switches while the program
// stands idle. Counted per thread from the kernel, not timed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "pty_pair.h"

namespace {

using namespace std::chrono_literals;

struct ThreadSwitches {
    std::string name;
    long switches = 0;
};

// Voluntary and involuntary context switches of every thread in the process.
std::map<long, ThreadSwitches> SwitchesPerThread() {
    std::map<long, ThreadSwitches> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        return threads;
    }
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string dir = std::string("/proc/self/task/") + entry->d_name;
        ThreadSwitches thread;
        std::ifstream(dir + "/comm") >> thread.name;
        std::ifstream status(dir + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                thread.switches += std::stol(line.substr(line.find(':') + 1));
            }
        }
        threads[std::stol(entry->d_name)] = thread;
    }
    closedir(tasks);
    return threads;
}

// A thread asleep until work arrives wakes a handful of times in a second at
// most; one polling even ten times a second is caught.
constexpr long kMostSwitchesPerIdleSecond = 5;

void ExpectEveryThreadAsleep(const char* mode) {
    const long self = static_cast<long>(syscall(SYS_gettid));
    const auto before = SwitchesPerThread();
    std::this_thread::sleep_for(1s);
    const auto after = SwitchesPerThread();
    ASSERT_FALSE(after.empty());
    for (const auto& [tid, thread] : after) {
        const auto earlier = before.find(tid);
        if (tid == self || earlier == before.end()) {
            continue;
        }
        EXPECT_LE(thread.switches - earlier->second.switches, kMostSwitchesPerIdleSecond)
            << mode << ": thread " << tid << " (" << thread.name << ")";
    }
}

TEST(IdleThreads, SleepWithThePanelOpenAndWithTheTerminalPortOpenAndSilent) {
    chipload::test::PtyPair pty;
    apptest::MapPort(7, pty.slavePath());
    apptest::AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, 7);
    ExpectEveryThreadAsleep("panel open, no port");

    app.click(main, PANEL_OPENCLOSE);
    ASSERT_TRUE(app.onUi([] { return TideComm_GetPortOpen(7) != 0; }));
    ExpectEveryThreadAsleep("terminal port open and silent");
}

}  // namespace
