#include "progress_status.h"

#include <chrono>
#include <cstdio>
#include <mutex>

#include "operator_messages.h"
#include "rte_language.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(200);

std::mutex progressLock;
std::string progressVerb;
long progressTotal = 0;
Clock::time_point started;
Clock::time_point lastReport;

}  // namespace

std::string FormatProgress(const char* verb, long done, long total, double elapsedSeconds) {
    char text[160];
    if (done <= 0 || elapsedSeconds <= 0.0) {
        std::snprintf(text, sizeof text, RTE_Translate("%s %ld/%ld 字节，-- KB/s，剩余 -- 秒"),
                      RTE_Translate(verb), done, total);
        return text;
    }
    const double bytesPerSecond = static_cast<double>(done) / elapsedSeconds;
    const long left = done >= total ? 0 : total - done;
    const double secondsLeft = static_cast<double>(left) / bytesPerSecond;
    std::snprintf(text, sizeof text, RTE_Translate("%s %ld/%ld 字节，%.1f KB/s，剩余 %.0f 秒"),
                  RTE_Translate(verb), done, total, bytesPerSecond / 1024.0, secondsLeft);
    return text;
}

void ProgressBegin(const char* verb, long total) {
    std::lock_guard<std::mutex> lock(progressLock);
    progressVerb = verb;
    progressTotal = total;
    started = Clock::now();
    lastReport = started - kReportInterval;  // the first block is shown at once
}

void ProgressReport(long done) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(progressLock);
        const Clock::time_point now = Clock::now();
        if (done < progressTotal && now - lastReport < kReportInterval) {
            return;
        }
        lastReport = now;
        const double elapsed = std::chrono::duration<double>(now - started).count();
        text = FormatProgress(progressVerb.c_str(), done, progressTotal, elapsed);
    }
    SetStatus(text.c_str());
}
