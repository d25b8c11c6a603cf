// Thread message hand-over: a post answered by the receiving thread, as the
// serial library's dispatch and write threads talk to each other.
#include <windows.h>

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr UINT kPing = WM_USER + 1;
constexpr UINT kQuit = WM_USER + 2;

DWORD WINAPI echo(LPVOID parameter) {
    const auto replyTo = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(parameter));
    MSG message{};
    for (;;) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == kQuit) {
                return 0;
            }
            PostThreadMessageA(replyTo, kPing, message.wParam, 0);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    }
}

void BM_PostedMessageRoundTrip(benchmark::State& state) {
    const DWORD self = GetCurrentThreadId();
    DWORD echoId = 0;
    HANDLE thread = CreateThread(
        nullptr, 0, echo, reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(self)), 0, &echoId);
    MSG message{};
    for (auto _ : state) {
        PostThreadMessageA(echoId, kPing, 1, 0);
        while (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        }
        benchmark::DoNotOptimize(message.wParam);
    }
    PostThreadMessageA(echoId, kQuit, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}
BENCHMARK(BM_PostedMessageRoundTrip)->UseRealTime();

}  // namespace
