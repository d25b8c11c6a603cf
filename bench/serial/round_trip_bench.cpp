// Round trip of received bytes: from the moment a byte is written at the far end of a
// pseudo-terminal until the application's receive callback runs on the user-interface thread,
// with the read interval time-out at 1 ms and at its default of 100 ms.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <port_map.h>
#include <rte.h>
#include <rte_headless.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "TideComm.h"

namespace {

constexpr int kPort = 4;

std::mutex received;
std::condition_variable receivedChanged;
int framesReceived = 0;
std::chrono::steady_clock::time_point lastFrameAt;
std::chrono::steady_clock::time_point lastFramedAt;

// Runs in the framing on the read thread: when the frame was cut.
int NoteFramed(int, const char*, int) {
    std::lock_guard lock(received);
    lastFramedAt = std::chrono::steady_clock::now();
    return 1;
}

int OnFrame(int port) {
    char* frame = nullptr;
    int length = 0;
    TideComm_InputBuffer(port, &frame, &length);  // only a taken frame is released
    TideComm_ClearInBufferCount(port);
    {
        std::lock_guard lock(received);
        ++framesReceived;
        lastFrameAt = std::chrono::steady_clock::now();
    }
    receivedChanged.notify_all();
    return 0;
}

void RoundTrip(benchmark::State& state) {
    auto headless = rte::Headless::Install();
    std::thread ui([] {
        InitRTEEx(nullptr, nullptr, nullptr);
        RunUserInterface();
    });

    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    chipload::portmap::assign(kPort, ptsname(master));

    TideComm_Init();
    TideComm_SetReadIntervalTimeout(kPort, static_cast<unsigned>(state.range(0)));
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, OnFrame);
    TideComm_InstallReceiveCheckCallback(kPort, NoteFramed, 0);
    double framingSeconds = 0;
    if (TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1) != 0) {
        state.SkipWithError("the port does not open");
    }
    for (auto _ : state) {
        int before;
        {
            std::lock_guard lock(received);
            before = framesReceived;
        }
        const auto sentAt = std::chrono::steady_clock::now();
        if (write(master, "U", 1) != 1) {
            state.SkipWithError("write at the far end failed");
            break;
        }
        std::unique_lock lock(received);
        if (!receivedChanged.wait_for(lock, std::chrono::seconds(2),
                                      [&] { return framesReceived > before; })) {
            state.SkipWithError("no frame arrived");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(lastFrameAt - sentAt).count());
        framingSeconds += std::chrono::duration<double>(lastFramedAt - sentAt).count();
    }
    // How much of the round trip passed before the read thread had cut the frame.
    state.counters["to_framing_ms"] =
        benchmark::Counter(framingSeconds * 1000, benchmark::Counter::kAvgIterations);
    TideComm_Close(kPort);
    close(master);
    headless->waitIdle();
    QuitUserInterface(0);
    ui.join();
    RTE_CloseEngine();
}

// The pseudo-terminal alone: a byte written at the master until a poll on the slave returns
// it, for comparison with the library's round trip on the same machine.
void PtyAlone(benchmark::State& state) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    for (auto _ : state) {
        const auto sentAt = std::chrono::steady_clock::now();
        char byte = 'U';
        pollfd fd{slave, POLLIN, 0};
        if (write(master, &byte, 1) != 1 || poll(&fd, 1, 2000) != 1 || read(slave, &byte, 1) != 1) {
            state.SkipWithError("the pseudo-terminal does not pass the byte");
            break;
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - sentAt).count());
    }
    close(slave);
    close(master);
}

}  // namespace

BENCHMARK(PtyAlone)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(RoundTrip)
    ->ArgName("read_interval_ms")
    ->Arg(1)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(50);

BENCHMARK_MAIN();
