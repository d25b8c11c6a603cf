// Flashing 64 KiB with verify against simulated F103C8 boards with real
// timing (bytes paced at the line rate, 8E1, and the datasheet's erase and
// program times), over pseudo-terminals as chipload-sim --pty serves them.
//
// Phases: one client, as the command line drives it, timed per phase and set
// against its floor: the bytes both sides put on the wire at 11 bits each,
// plus the time the chip spends erasing or programming.
// Boards: `chipload flash` in full on 1 or 8 boards at once; the run with 8
// is set against the run with 1.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "client.h"
#include "comm_link.h"
#include "command_line.h"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/target.hpp"

namespace {

using Seconds = std::chrono::duration<double>;

constexpr std::uint32_t kBase = 0x08000000;
constexpr std::uint32_t kImage = 64 * 1024;
constexpr std::uint32_t kBlocks = kImage / 256;
constexpr std::uint32_t kPages = kImage / 1024;

// Per block: command and complement, address and checksum, then for a write
// the count, 256 bytes and checksum, for a read the count and complement and
// the 256 bytes back; three ACKs either way.
constexpr std::uint64_t kWriteBytes = kBlocks * (2 + 5 + (1 + 256 + 1) + 3);
constexpr std::uint64_t kReadBytes = kBlocks * (2 + 5 + 2 + 256 + 3);
// Erase: command and complement, count, page numbers and checksum, two ACKs.
constexpr std::uint64_t kEraseBytes = 2 + (1 + kPages + 1) + 2;

struct Board {
    explicit Board(std::uint32_t baud) {
        stm32sim::TargetConfig config;
        config.product = *stm32sim::find_product("f103c8");
        config.timing = stm32sim::Timing::real;
        config.start = stm32sim::StartMode::bootloader;
        config.boot0 = stm32sim::Boot0Polarity::tied_high;
        config.resync_after_idle = std::chrono::milliseconds(100);
        chip = std::make_unique<stm32sim::Target>(config);
        server = std::make_unique<stm32sim::PtyServer>(*chip, baud);
        server->start();
    }
    std::unique_ptr<stm32sim::Target> chip;
    std::unique_ptr<stm32sim::PtyServer> server;
};

std::vector<std::uint8_t> testImage() {
    std::vector<std::uint8_t> image(kImage);
    for (std::uint32_t i = 0; i < kImage; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return image;
}

double floorSeconds(std::uint32_t baud, std::uint64_t bytes, Seconds chip = Seconds(0)) {
    stm32sim::LineSettings line;
    line.baud = baud;
    return Seconds(line.time_for_bytes(bytes)).count() + chip.count();
}

const Seconds kProgramTime = (kImage / 2) * stm32sim::halfword_program_time;
const Seconds kEraseTime = kPages * stm32sim::page_erase_time;

void Phases(benchmark::State& state) {
    const auto baud = static_cast<std::uint32_t>(state.range(0));
    Board board(baud);
    const auto image = testImage();
    Seconds erase{}, write{}, read{};
    bool ok = true;
    for (auto _ : state) {
        isp::CommOpenError error;
        auto link = isp::openCommLink(board.server->slave_path(), baud, &error);
        if (!link) {
            state.SkipWithError("cannot open the pseudo-terminal");
            return;
        }
        isp::Client client(std::move(link));
        ok = static_cast<bool>(client.synchronize());
        std::vector<std::uint8_t> pages(kPages);
        for (std::uint32_t i = 0; i < kPages; ++i)
            pages[i] = static_cast<std::uint8_t>(i);
        const auto t0 = std::chrono::steady_clock::now();
        ok = ok && client.erasePages(pages);
        const auto t1 = std::chrono::steady_clock::now();
        ok = ok && client.writeMemory(kBase, image);
        const auto t2 = std::chrono::steady_clock::now();
        const auto back = client.readMemory(kBase, kImage);
        const auto t3 = std::chrono::steady_clock::now();
        ok = ok && back && back.value() == image;
        erase = t1 - t0;
        write = t2 - t1;
        read = t3 - t2;
        state.SetIterationTime(Seconds(t3 - t0).count());
    }
    if (!ok) {
        state.SkipWithError("the image did not arrive whole");
        return;
    }
    const double writeFloor = floorSeconds(baud, kWriteBytes, kProgramTime);
    const double readFloor = floorSeconds(baud, kReadBytes);
    const double eraseFloor = floorSeconds(baud, kEraseBytes, kEraseTime);
    state.counters["erase_s"] = erase.count();
    state.counters["erase_x_floor"] = erase.count() / eraseFloor;
    state.counters["write_s"] = write.count();
    state.counters["write_floor_s"] = writeFloor;
    state.counters["write_x_floor"] = write.count() / writeFloor;
    state.counters["read_s"] = read.count();
    state.counters["read_floor_s"] = readFloor;
    state.counters["read_x_floor"] = read.count() / readFloor;
}

void Boards(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto baud = static_cast<std::uint32_t>(state.range(1));
    std::vector<std::unique_ptr<Board>> boards;
    for (std::size_t i = 0; i < count; ++i)
        boards.push_back(std::make_unique<Board>(baud));
    const auto image = testImage();
    char path[] = "/tmp/chipload-bench-XXXXXX";
    const int fd = mkstemp(path);
    const bool written = fd >= 0 && write(fd, image.data(), image.size()) == kImage;
    if (fd >= 0)
        close(fd);
    std::vector<std::string> args{"flash", path, "--quiet", "--baud", std::to_string(baud)};
    for (const auto& board : boards)
        args.insert(args.end(), {"--port", board->server->slave_path()});
    int code = -1;
    Seconds total{};
    for (auto _ : state) {
        std::FILE* out = std::tmpfile();
        const auto t0 = std::chrono::steady_clock::now();
        code = written ? cli::runCommandLine(args, out, stderr, false) : -1;
        total = std::chrono::steady_clock::now() - t0;
        std::fclose(out);
        state.SetIterationTime(total.count());
    }
    std::remove(path);
    for (const auto& board : boards) {
        if (board->chip->flash() != image)
            code = -1;
    }
    if (code != 0) {
        state.SkipWithError("not every board holds the image");
        return;
    }
    // The floor leaves out connecting: the reset pulse, settling, and a few
    // short queries (Get, Get ID, the flash size word).
    const double floor =
        floorSeconds(baud, kWriteBytes + kReadBytes + kEraseBytes, kProgramTime + kEraseTime);
    state.counters["boards"] = static_cast<double>(count);
    state.counters["total_s"] = total.count();
    state.counters["floor_s"] = floor;
    state.counters["total_x_floor"] = total.count() / floor;
}

BENCHMARK(Phases)->Arg(115200)->Arg(460800)->Arg(921600)->Iterations(1)->UseManualTime()->Unit(
    benchmark::kSecond);
BENCHMARK(Boards)
    ->Args({1, 115200})
    ->Args({8, 115200})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
