// What an open device costs while nothing happens on the line: a read and a
// comm-event wait pending, as the serial library leaves them between frames.
// The process's CPU time (getrusage, user + system, all threads) is measured
// over a few seconds of wall time; the figure is the share of one core.
#include <sys/resource.h>
#include <windows.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

#include "port_map.h"
#include "pty_pair.h"

namespace {

constexpr auto kIdleWindow = std::chrono::seconds(3);

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void BM_IdleDeviceWithReadAndEventWaitPending(benchmark::State& state) {
    chipload::test::PtyPair pty;
    chipload::portmap::assign(7, pty.slavePath());
    HANDLE device = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        state.SkipWithError("cannot open the pseudo-terminal as COM7");
        return;
    }
    COMMTIMEOUTS timeouts{100, 0, 0, 0, 0};
    SetCommTimeouts(device, &timeouts);
    SetCommMask(device, EV_ERR | EV_CTS | EV_DSR | EV_RLSD | EV_RING);
    OVERLAPPED readOv{};
    OVERLAPPED eventOv{};
    readOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    eventOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BYTE buffer[512];
    DWORD count = 0;
    DWORD mask = 0;
    ReadFile(device, buffer, sizeof buffer, &count, &readOv);
    WaitCommEvent(device, &mask, &eventOv);

    double share = 0;
    for (auto _ : state) {
        const double cpuBefore = processCpuSeconds();
        const auto wallBefore = std::chrono::steady_clock::now();
        // The serial library's read thread would sit in this wait.
        HANDLE waits[] = {readOv.hEvent, eventOv.hEvent};
        const DWORD woke = WaitForMultipleObjects(
            2, waits, FALSE, static_cast<DWORD>(std::chrono::milliseconds(kIdleWindow).count()));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallBefore;
        share = (processCpuSeconds() - cpuBefore) / wall.count();
        if (woke != WAIT_TIMEOUT) {
            state.SkipWithError("a pending operation completed on an idle line");
        }
    }
    state.counters["cpu_percent_of_one_core"] = share * 100.0;

    CloseHandle(device);
    CloseHandle(readOv.hEvent);
    CloseHandle(eventOv.hEvent);
    chipload::portmap::clearAssignments();
}
BENCHMARK(BM_IdleDeviceWithReadAndEventWaitPending)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
