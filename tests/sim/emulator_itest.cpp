// The firmware runs for real on qemu-system-arm: the board is programmed
// through its bootloader over RFC 2217, started with Go, and the emulated
// USART1 talks on the line. Skipped where the emulator or the example
// programs (arm-none-eabi-gcc) are missing.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "child_process.hpp"
#include "posix_io.hpp"
#include "sim_client.hpp"
#include "sim_wire.hpp"
#include "stm32sim/emulator.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "wait_for.h"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view greeting = "Hello from ChipLoad!\r\n";
constexpr std::string_view other_greeting = "Other text, same board\r\n";  // no 'y': not an ACK

// A vector table (stack at the end of 8 KiB, reset handler at 0x08000008)
// and two bytes of code there.
Bytes program_with_code(std::uint8_t low, std::uint8_t high) {
    return {0x00, 0x20, 0x00, 0x20, 0x09, 0x00, 0x00, 0x08, low, high};
}

// A board QEMU emulates, as the simulator's product, the example programs'
// register map, and the bootloader's erase command.
struct BoardCase {
    const char* product;
    const char* map;  // file name suffix of the example programs
    std::uint8_t erase_command;
};

constexpr BoardCase f100{"f100rb", "", 0x43};

std::string example_path(const std::string& name) {
#ifdef CHIPLOAD_FIRMWARE_DIR
    return std::string(CHIPLOAD_FIRMWARE_DIR) + "/" + name + ".bin";
#else
    return name + ".bin";  // never used: the tests that need it are skipped
#endif
}

Bytes example(const std::string& name) {
    std::ifstream in(example_path(name), std::ios::binary);
    Bytes bytes(std::istreambuf_iterator<char>(in), {});
    EXPECT_FALSE(bytes.empty()) << example_path(name) << " was not built";
    return bytes;
}

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool process_ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    const auto close = line.rfind(')');
    return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

// The emulator's process ID in the last "(pid N)" of the log.
std::optional<pid_t> emulator_pid(const std::string& log) {
    const auto at = log.rfind("(pid ");
    if (at == std::string::npos) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long pid = std::strtol(log.c_str() + at + 5, &end, 10);
    if (*end != ')') {
        return std::nullopt;  // the line is still coming
    }
    return static_cast<pid_t>(pid);
}

bool tools_missing(std::string& why) {
#ifndef CHIPLOAD_FIRMWARE_DIR
    why = "arm-none-eabi-gcc was not found when the build was configured: no example programs";
    return true;
#else
    if (!find_emulator()) {
        why = "qemu-system-arm is not installed (Debian package qemu-system-arm)";
        return true;
    }
    return false;
#endif
}

class EmulatorSession : public ::testing::Test {
  protected:
    void start(const BoardCase& board) {
        if (std::string why; tools_missing(why)) {
            GTEST_SKIP() << why;
        }
        board_ = board;
        TargetConfig config;
        config.product = *find_product(board.product);
        config.timing = Timing::real;
        config.run_firmware = emulator_launcher(*find_emulator());
        config.log = [this](const std::string& line) {
            std::lock_guard lock(log_mutex_);
            log_ += line + "\n";
        };
        target_ = std::make_unique<Target>(config);
        server_ = std::make_unique<Rfc2217Server>(*target_);
        server_->start("127.0.0.1", 0);
        client_ = std::make_unique<Rfc2217Client>(server_->port());
        ASSERT_TRUE(client_->connected());
    }

    void TearDown() override {
        client_.reset();
        if (server_) {
            server_->stop();
        }
    }

    std::string log() {
        std::lock_guard lock(log_mutex_);
        return log_;
    }

    // The DTR pulse with BOOT0 high, then the synchronisation. Output that
    // left before the reset is read away first.
    void enter_bootloader() {
        client_->reset_into_bootloader();
        client_->receive(64 * 1024, 200ms);
        client_->send(Bytes{0x7F});
        ASSERT_EQ(client_->receive(1, 5s).data, Bytes{ack});
    }

    void expect_acks(std::size_t count) {
        ASSERT_EQ(client_->receive(count, 5s).data, Bytes(count, ack));
    }

    Bytes example(const std::string& name) const {
        return stm32sim::test::example(name + board_.map);
    }

    // Page or sector 0, where the programs live: one count, one number and
    // the checksum, all zero (one-byte fields for Erase, two-byte ones for
    // Extended Erase).
    void erase_first_unit() {
        const std::size_t width = board_.erase_command == 0x44 ? 2 : 1;
        client_->send(command(board_.erase_command) + Bytes(2 * width + 1, 0x00));
        expect_acks(2);
    }

    // Whole words, as a host pads its last block: the bootloader drops a
    // trailing partial word.
    void write_memory(std::uint32_t address, Bytes image) {
        image.resize((image.size() + 3) / 4 * 4, 0xFF);
        for (std::size_t at = 0; at < image.size(); at += 256) {
            const Bytes chunk(
                image.begin() + static_cast<std::ptrdiff_t>(at),
                image.begin() + static_cast<std::ptrdiff_t>(std::min(at + 256, image.size())));
            client_->send(command(0x31) + address_frame(address + static_cast<std::uint32_t>(at)) +
                          block(chunk));
            expect_acks(3);
        }
    }

    Bytes read_flash(std::size_t size) {
        Bytes out;
        for (std::size_t at = 0; at < size; at += 256) {
            const auto n = static_cast<std::uint8_t>(std::min<std::size_t>(256, size - at) - 1);
            client_->send(command(0x11) +
                          address_frame(flash_base + static_cast<std::uint32_t>(at)) +
                          Bytes{n, static_cast<std::uint8_t>(n ^ 0xFF)});
            const Bytes got = client_->receive(3u + n + 1u, 5s).data;
            EXPECT_EQ(
                Bytes(got.begin(), got.begin() + std::min<std::ptrdiff_t>(3, std::ssize(got))),
                Bytes(3, ack));
            if (got.size() > 3) {
                out.insert(out.end(), got.begin() + 3, got.end());
            }
        }
        return out;
    }

    void go(std::uint32_t address = flash_base) {
        client_->send(command(0x21) + address_frame(address));
        expect_acks(2);
    }

    void flash_and_go(const Bytes& image) {
        enter_bootloader();
        erase_first_unit();
        write_memory(flash_base, image);
        go();
    }

    // What the line brought until `needle` came (or the time ran out).
    std::string read_until(std::string_view needle, std::chrono::milliseconds limit = 5s) {
        std::string got;
        const auto deadline = Clock::now() + limit;
        while (got.find(needle) == std::string::npos && Clock::now() < deadline) {
            got += text(client_->receive(needle.size(), 100ms).data);
        }
        return got;
    }

    BoardCase board_ = f100;
    std::unique_ptr<Target> target_;
    std::unique_ptr<Rfc2217Server> server_;
    std::unique_ptr<Rfc2217Client> client_;
    std::mutex log_mutex_;
    std::string log_;
};

class EmulatedBoard : public EmulatorSession, public ::testing::WithParamInterface<BoardCase> {
  protected:
    void SetUp() override { start(GetParam()); }
};

class Emulator : public EmulatorSession {
  protected:
    void SetUp() override { start(f100); }
};

INSTANTIATE_TEST_SUITE_P(QemuBoards, EmulatedBoard,
                         ::testing::Values(f100, BoardCase{"f205rb", "_f2f4", 0x44},
                                           BoardCase{"f407vg", "_f2f4", 0x44}),
                         [](const auto& board) { return std::string(board.param.product); });

TEST_P(EmulatedBoard, TheLineShowsWhatTheFlashedProgramPrints) {
    flash_and_go(example("hello"));
    EXPECT_NE(read_until(greeting).find(greeting), std::string::npos) << log();

    flash_and_go(example("hello_other"));
    const std::string got = read_until(other_greeting);
    EXPECT_NE(got.find(other_greeting), std::string::npos) << got << log();
    EXPECT_EQ(got.find("Hello"), std::string::npos) << "the first program still talks: " << got;
}

TEST_P(EmulatedBoard, TheEchoProgramSendsBackWhatTheHostSends) {
    flash_and_go(example("echo"));
    ASSERT_NE(read_until("Echo ready\r\n").find("Echo ready\r\n"), std::string::npos) << log();
    const Bytes sent{'p', 'i', 'n', 'g', ' ', 0x00, 0x7F, 0xFF, '\r', '\n'};
    client_->send(sent);
    EXPECT_EQ(client_->receive(sent.size(), 5s).data, sent);
}

TEST_F(Emulator, TheEmulatorEndsWithTheRunAndTheBootloaderKeepsTheFlash) {
    const Bytes image = example("hello");
    flash_and_go(image);
    ASSERT_NE(read_until(greeting).find(greeting), std::string::npos) << log();
    const auto first = emulator_pid(log());
    ASSERT_TRUE(first) << log();

    enter_bootloader();
    EXPECT_TRUE(test_support::WaitFor([&] { return process_ended(*first); }));
    EXPECT_EQ(read_flash(image.size()), image);

    go();
    ASSERT_NE(read_until(greeting).find(greeting), std::string::npos) << log();
    const auto second = emulator_pid(log());
    ASSERT_TRUE(second && *second != *first) << log();
    client_.reset();  // the host goes away
    EXPECT_TRUE(test_support::WaitFor([&] { return process_ended(*second); })) << log();

    // The next host finds the program running again, as from its reset.
    client_ = std::make_unique<Rfc2217Client>(server_->port());
    ASSERT_NE(read_until(greeting).find(greeting), std::string::npos) << log();
    EXPECT_NE(emulator_pid(log()), second) << log();
}

// As the bootloader's Go: the stack pointer and the reset vector from the
// table at the address, wherever the program was linked to run. The flash
// base stays erased, so nothing starts from there.
TEST_F(Emulator, GoElsewhereStartsTheProgramLinkedThere) {
    const struct {
        const char* program;
        std::uint32_t address;
    } cases[] = {{"hello_at_4k", 0x08001000}, {"hello_in_ram", 0x20000200}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        enter_bootloader();
        write_memory(c.address, example(c.program));
        go(c.address);
        EXPECT_NE(read_until(greeting).find(greeting), std::string::npos) << log();
        char from[32];
        std::snprintf(from, sizeof from, "from 0x%08X (pid", c.address);
        EXPECT_NE(log().find(from), std::string::npos) << log();
    }
}

TEST_F(Emulator, AFirmwareThatFaultsOrNeverPrintsLeavesTheBoardAnswering) {
    const struct {
        const char* what;
        Bytes image;
        const char* log;
    } cases[] = {
        // UDF with no fault handler: the core locks up and the emulator quits.
        {"hard fault", program_with_code(0xFF, 0xDE), "firmware stopped: the emulator"},
        {"endless loop", program_with_code(0xFE, 0xE7), "firmware runs on"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        flash_and_go(c.image);
        EXPECT_TRUE(test_support::WaitFor([&] { return log().find(c.log) != std::string::npos; }))
            << log();
        EXPECT_EQ(client_->receive(1, 200ms).data, Bytes{});
        enter_bootloader();
        EXPECT_EQ(read_flash(c.image.size()), c.image);
    }
}

TEST(EmulatorLauncher, AMissingEmulatorIsReportedAndTheBoardStaysSilent) {
    std::mutex mutex;
    std::string log;
    TargetConfig config;
    config.product = *find_product("f100rb");
    config.run_firmware = emulator_launcher("/nonexistent/qemu-system-arm");
    config.log = [&](const std::string& line) {
        std::lock_guard lock(mutex);
        log += line + "\n";
    };
    Target target(config);
    const Bytes program = program_with_code(0xFE, 0xE7);
    ASSERT_TRUE(target.load_flash(flash_base, program));
    target.reset();  // BOOT0 low: boot from flash
    EXPECT_TRUE(test_support::WaitFor([&] {
        std::lock_guard lock(mutex);
        return log.find(
                   "firmware not started: cannot start /nonexistent/qemu-system-arm: "
                   "No such file or directory") != std::string::npos;
    })) << log;
    EXPECT_EQ(target.take_output(Clock::now() + 5s).bytes, Bytes{}) << "no greeting instead";
}

TEST(EmulatorBoards, OnlyChipsOfQemuBoardsRunAndTheOthersAreToldWhy) {
    EXPECT_EQ(emulator_machine(*find_product("f100rb")), "stm32vldiscovery");
    EXPECT_FALSE(emulator_unavailable(*find_product("f100rb")));
    const auto why = emulator_unavailable(*find_product("f103c8"));
    ASSERT_TRUE(why);
    for (const char* part :
         {"f103c8", "0x410", "STM32F100", "stm32vldiscovery", "netduino2", "netduinoplus2"}) {
        EXPECT_NE(why->find(part), std::string::npos) << part << " in: " << *why;
    }
}

// The emulator does not outlive the simulator, however it ends.
TEST(EmulatorProcess, TheEmulatorDiesWithTheSimulator) {
    if (std::string why; tools_missing(why)) {
        GTEST_SKIP() << why;
    }
    // Orphans come to this process, which reaps them: no zombie left behind.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    for (const int signal : {SIGKILL, SIGTERM}) {
        SCOPED_TRACE(signal);
        std::array<int, 2> out{};
        ASSERT_EQ(::pipe2(out.data(), O_CLOEXEC), 0);
        UniqueFd out_read(out[0]);
        UniqueFd out_write(out[1]);
        UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
        const std::string image = example_path("hello");
        const std::array fds{null.get(), null.get(), out_write.get()};
        ChildProcess sim({CHIPLOAD_SIM, "--rfc2217", "127.0.0.1:0", "--product", "f100rb", "--run",
                          "qemu", "-v", "--image", image},
                         fds);
        out_write.reset();
        std::string err;
        std::optional<pid_t> qemu;
        test_support::WaitFor([&] {
            err += text(read_from(out_read.get(), 1, nullptr, 50ms).data);
            qemu = emulator_pid(err);
            return qemu.has_value();
        });
        ASSERT_TRUE(qemu) << err;
        ::kill(sim.pid(), signal);
        EXPECT_TRUE(test_support::WaitFor([&] { return sim.exit_status().has_value(); }));
        EXPECT_TRUE(test_support::WaitFor([&] {
            ::waitpid(*qemu, nullptr, WNOHANG);
            return process_ended(*qemu);
        }));
    }
}

}  // namespace
}  // namespace stm32sim::test
