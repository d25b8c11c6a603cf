// Connect, program and read back 64 KiB at 115200 baud against the simulated
// target with real timing (bytes paced at the line rate, datasheet erase and
// program times), driven through the headless front end as an operator would.
// Counters: seconds per phase, and each phase over its floor: the bytes both
// sides put on the wire at the line's framing plus the chip's erase and
// program times.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "session.h"
#include "stm32sim/rfc2217_server.hpp"
#include "temp_files.h"

namespace {

using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

constexpr int kCom = 5;
constexpr std::uint32_t kImage = 64 * 1024;
constexpr std::uint32_t kBlocks = kImage / 256;

// Bytes both ways, per phase, as the exchanges are laid out.
constexpr std::uint64_t kConnectBytes =
    (1 + 2 + 2 + 2 + 5 + 2)          // 7F, Get Version, Get ID, Read Memory, address, length
    + (1 + 5 + 5 + 1 + 1 + 1 + 22);  // ACK, version reply, ID reply, ACKs, ACK + 22 bytes
constexpr std::uint64_t kProgramBytes =
    (2 + 2 + 2) +
    kBlocks * (2 + 5 + 258 + 3);  // erase + its ACKs; per block command, address, data, 3 ACKs
constexpr std::uint64_t kReadBytes =
    2 +
    kBlocks * (2 + 5 + 2 + 3 + 256);  // sync + ACK; per block command, address, length, ACKs, data

double Floor(const stm32sim::LineSettings& line, std::uint64_t bytes, Seconds chipTime) {
    return std::chrono::duration_cast<Seconds>(line.time_for_bytes(bytes)).count() +
           chipTime.count();
}

void ProgramAndReadBack(benchmark::State& state) {
    stm32sim::TargetConfig config;
    config.product = *stm32sim::find_product("f103c8");
    config.timing = stm32sim::Timing::real;
    stm32sim::Target chip(config);
    stm32sim::Rfc2217Server server(chip);
    server.start("127.0.0.1", 0);
    apptest::MapPort(kCom, "rfc2217://127.0.0.1:" + std::to_string(server.port()));
    apptest::AppHarness app;
    apptest::TempDir files;
    auto& ui = app.ui();
    const int main = app.panels().main;
    const int ops = app.panels().ops;
    std::string image(kImage, '\0');
    for (std::uint32_t i = 0; i < kImage; i++) {
        image[i] = static_cast<char>((i * 7 + 3) % 251);
    }
    const std::string path = files.write("image.bin", image);
    app.commit(main, PANEL_COMPORT, kCom);
    ui.setValue(app.panels().isp, TABISP_FILETYPE, 1);
    // The read-back is timed as a phase of its own; verify would repeat it inside programming.
    ui.setValue(ops, TABOPS_VERIFY, 0);

    double connectSeconds = 0, programSeconds = 0, readSeconds = 0;
    int connectEnds = 0, programEnds = 0, readEnds = 0;
    bool ok = true;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        app.click(main, PANEL_CONNECT);
        ok = ui.waitUntil([&] { return ui.intValue(ops, TABOPS_CHIP) != 0; }, 30s) &&
             ui.waitUntil([&] { return app.onUi([] { return ISP_mode; }) == 0; }, 30s);
        const auto t1 = std::chrono::steady_clock::now();
        connectEnds = TideComm_GetIntervalEndedReads(kCom);
        ui.queueFileAnswer(path);
        app.click(app.panels().isp, TABISP_LOADFILE);
        const auto t2 = std::chrono::steady_clock::now();
        app.click(ops, TABOPS_WRITE);
        ok = ok && app.waitForStatus("程序烧写完成", 120s);
        const auto t3 = std::chrono::steady_clock::now();
        programEnds = TideComm_GetIntervalEndedReads(kCom);
        ui.setValue(ops, TABOPS_STARTPAGE, 0);
        ui.setValue(ops, TABOPS_ENDPAGE, 63);
        app.click(ops, TABOPS_PAGEREAD);
        ok = ok && app.waitForStatus("Flash读取完成！！！", 120s);
        const auto t4 = std::chrono::steady_clock::now();
        readEnds = TideComm_GetIntervalEndedReads(kCom);
        connectSeconds = Seconds(t1 - t0).count();
        programSeconds = Seconds(t3 - t2).count();
        readSeconds = Seconds(t4 - t3).count();
        state.SetIterationTime(connectSeconds + programSeconds + readSeconds);
    }
    const auto flash = chip.flash();
    if (!ok || std::string(flash.begin(), flash.end()) != image) {
        state.SkipWithError("the run did not complete with the image in flash");
        return;
    }
    const auto line = chip.line();
    const double connectFloor = Floor(line, kConnectBytes, 30ms);  // plus the reset pulse
    const double programFloor =
        Floor(line, kProgramBytes,
              stm32sim::mass_erase_time + (kImage / 2) * stm32sim::halfword_program_time);
    const double readFloor = Floor(line, kReadBytes, 30ms);
    state.counters["baud"] = line.baud;
    state.counters["bits_per_byte"] = line.bits_per_byte();
    state.counters["connect_s"] = connectSeconds;
    state.counters["connect_x_floor"] = connectSeconds / connectFloor;
    state.counters["program_s"] = programSeconds;
    state.counters["program_floor_s"] = programFloor;
    state.counters["program_x_floor"] = programSeconds / programFloor;
    state.counters["read_s"] = readSeconds;
    state.counters["read_floor_s"] = readFloor;
    state.counters["read_x_floor"] = readSeconds / readFloor;
    // Reads the serial library ended by the read interval rather than by the reply's length: a
    // reply that paused longer than the interval on the line (the simulator's thread held off
    // the cores) arrives in two pieces.
    state.counters["connect_interval_ends"] = connectEnds;
    state.counters["program_interval_ends"] = programEnds - connectEnds;
    state.counters["read_interval_ends"] = readEnds - programEnds;
    app.click(main, PANEL_CONNECT);
}

BENCHMARK(ProgramAndReadBack)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
