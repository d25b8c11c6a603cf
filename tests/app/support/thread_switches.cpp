#include "thread_switches.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#if defined(__SANITIZE_THREAD__)
#define CHIPLOAD_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CHIPLOAD_THREAD_SANITIZER 1
#endif
#endif

namespace apptest {

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

namespace {

// ThreadSanitizer's background thread wakes on its own schedule; it is
// started with the process's first thread, so it is the oldest after main.
long RuntimeThread(const std::map<long, ThreadSwitches>& threads) {
#if defined(CHIPLOAD_THREAD_SANITIZER)
    const long mainThread = static_cast<long>(getpid());
    for (const auto& entry : threads) {
        if (entry.first != mainThread) {
            return entry.first;
        }
    }
#else
    (void)threads;
#endif
    return 0;
}

}  // namespace

std::string ThreadsAwake(int seconds, long most) {
    const long self = static_cast<long>(syscall(SYS_gettid));
    const auto before = SwitchesPerThread();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto after = SwitchesPerThread();
    if (after.empty()) {
        return "no threads listed in /proc/self/task";
    }
    const long runtimeThread = RuntimeThread(after);
    std::string awake;
    for (const auto& [tid, thread] : after) {
        const auto earlier = before.find(tid);
        if (tid == self || earlier == before.end() || tid == runtimeThread) {
            continue;
        }
        const long count = thread.switches - earlier->second.switches;
        if (count > most) {
            awake +=
                std::to_string(tid) + " (" + thread.name + "): " + std::to_string(count) + "\n";
        }
    }
    return awake;
}

}  // namespace apptest
