// CPU the program spends standing idle for 10 s, driven through the headless
// front end: the panel open with no port, and the terminal's port open on a
// silent line. Counter: per cent of one core (the whole process).
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "pty_pair.h"

namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

constexpr int kCom = 6;
constexpr auto kIdleSpell = 10s;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Arg 0: panel open, no port; arg 1: terminal port open, nothing arriving.
void IdleCost(benchmark::State& state) {
    chipload::test::PtyPair line;
    apptest::MapPort(kCom, line.slavePath());
    apptest::AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, kCom);
    if (state.range(0) == 1) {
        app.click(main, PANEL_OPENCLOSE);
        if (!app.onUi([] { return TideComm_GetPortOpen(kCom) != 0; })) {
            state.SkipWithError("the terminal port did not open");
            return;
        }
    }
    double cpuShare = 0;
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds();
        const auto t0 = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kIdleSpell);
        const double elapsed = Seconds(std::chrono::steady_clock::now() - t0).count();
        cpuShare = (ProcessCpuSeconds() - cpu0) / elapsed;
        state.SetIterationTime(elapsed);
    }
    state.counters["cpu_percent_of_core"] = cpuShare * 100.0;
}

BENCHMARK(IdleCost)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
