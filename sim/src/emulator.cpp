#include "stm32sim/emulator.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>

#include "child_process.hpp"
#include "posix_io.hpp"

namespace stm32sim {
namespace {

struct Board {
    std::uint16_t pid;
    std::string_view machine;
    std::string_view chip;
    // One instruction per 2^shift ns, held to the wall clock: about the
    // speed of the chip on its reset clock (HSI), so that delay loops take
    // their real time and a waiting firmware costs little host CPU.
    int icount_shift;
};

// The STM32 machines of QEMU 7 and the bootloader IDs of their chips (AN2606).
constexpr std::array boards{
    Board{0x420, "stm32vldiscovery", "STM32F100", 7},  // HSI 8 MHz
    Board{0x411, "netduino2", "STM32F205", 6},         // HSI 16 MHz
    Board{0x413, "netduinoplus2", "STM32F405", 6},     // HSI 16 MHz
};

// Bytes the firmware sent that the chip has not taken yet; beyond this the
// bridge stops reading and the emulated core waits on its transmitter.
constexpr std::size_t output_limit = 1024;
// Bytes from the host the firmware has not taken yet; beyond this they are
// lost, as a receiver overrun would lose them.
constexpr std::size_t input_limit = 64 * 1024;
// Small socket buffers keep the firmware close behind the paced line.
constexpr int socket_buffer_bytes = 4096;
// The images' descriptors in the emulator (its USART is on stdin and
// stdout, its messages on stderr).
constexpr int flash_fd = 3;
constexpr int ram_fd = 4;

// Go to another address than the flash base: what the bootloader does
// there, as Thumb code the core starts at the start of RAM (the
// bootloader's own part of it), with the table's address in the first
// literal. The reset itself takes its vectors from the flash base.
//
//   ldr r0, =table ; ldr r1, [r0] ; msr msp, r1       stack pointer
//   ldr r2, =0xE000ED08 ; str r0, [r2]                VTOR: its interrupts
//   ldr r1, [r0, #4] ; bx r1                          reset handler
constexpr std::size_t go_table_literal = 16;
constexpr std::array<std::uint8_t, 24> go_trampoline{
    0x03, 0x48, 0x01, 0x68, 0x81, 0xF3, 0x08, 0x88, 0x02, 0x4A, 0x10, 0x60,
    0x41, 0x68, 0x08, 0x47, 0x00, 0x00, 0x00, 0x00, 0x08, 0xED, 0x00, 0xE0};

const Board* board_for(const Product& product) {
    for (const Board& board : boards) {
        if (board.pid == product.pid) {
            return &board;
        }
    }
    return nullptr;
}

UniqueFd memory_image(const char* name, std::span<const std::uint8_t> bytes) {
    UniqueFd fd(::memfd_create(name, MFD_CLOEXEC));
    if (!fd) {
        throw_errno("memfd_create");
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            throw_errno(std::string("write ") + name);
        }
        done += static_cast<std::size_t>(n);
    }
    return fd;
}

// The RAM the emulator starts with: the chip's, and the Go code in the
// bootloader's part when the program does not start from the flash base.
std::vector<std::uint8_t> starting_ram(const FirmwareStart& start) {
    std::vector<std::uint8_t> ram(start.ram.begin(), start.ram.end());
    if (start.vector_table != flash_base && ram.size() >= go_trampoline.size()) {
        std::ranges::copy(go_trampoline, ram.begin());
        for (std::size_t i = 0; i < 4; ++i) {
            ram[go_table_literal + i] = static_cast<std::uint8_t>(start.vector_table >> (8 * i));
        }
    }
    return ram;
}

// "-device" arguments: raw images (never taken for ELF or HEX by their first
// bytes) and, for a Go elsewhere, the core started on the Go code (odd: Thumb).
std::vector<std::string> loader_arguments(std::uint32_t vector_table) {
    char flash[80];
    char ram[80];
    std::snprintf(flash, sizeof flash, "loader,file=/dev/fd/%d,addr=0x%08X,force-raw=on", flash_fd,
                  flash_base);
    std::snprintf(ram, sizeof ram, "loader,file=/dev/fd/%d,addr=0x%08X,force-raw=on", ram_fd,
                  ram_base);
    std::vector<std::string> out{"-device", flash, "-device", ram};
    if (vector_table != flash_base) {
        char go[64];
        std::snprintf(go, sizeof go, "loader,addr=0x%08X,cpu-num=0", ram_base | 1u);
        out.insert(out.end(), {"-device", go});
    }
    return out;
}

class EmulatedFirmware final : public RunningFirmware {
  public:
    EmulatedFirmware(std::string program, const Board& board, const FirmwareStart& start)
        : program_(std::move(program)),
          board_(board),
          flash_(start.flash.begin(), start.flash.end()),
          ram_(starting_ram(start)),
          vector_table_(start.vector_table),
          output_ready_(start.output_ready),
          log_(start.log) {
        thread_ = std::thread([this] { run(); });
    }

    ~EmulatedFirmware() override {
        stopping_ = true;
        wakeup_.notify();
        thread_.join();
    }

    void send(std::span<const std::uint8_t> bytes) override {
        {
            std::lock_guard lock(mutex_);
            const std::size_t room = input_limit - std::min(input_limit, input_.size());
            input_.insert(
                input_.end(), bytes.begin(),
                bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
        }
        wakeup_.notify();
    }

    std::vector<std::uint8_t> take(std::size_t max) override {
        std::vector<std::uint8_t> out;
        bool was_full = false;
        {
            std::lock_guard lock(mutex_);
            was_full = output_.size() >= output_limit;
            const std::size_t n = std::min(max, output_.size());
            out.assign(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
            output_.erase(output_.begin(), output_.begin() + static_cast<std::ptrdiff_t>(n));
        }
        if (was_full) {
            wakeup_.notify();  // the bridge may read again
        }
        return out;
    }

    bool has_output() const override {
        std::lock_guard lock(mutex_);
        return !output_.empty();
    }

  private:
    void log(const std::string& line) const {
        if (log_) {
            log_(line);
        }
    }
    void run();
    void bridge(ChildProcess& emulator, UniqueFd usart, UniqueFd errors);
    // Reads what the firmware sent; false at the end of the stream.
    bool read_usart(int fd);
    void write_usart(int fd);
    // Logs the emulator's complete lines; false at the end of the stream.
    bool read_errors(int fd);

    const std::string program_;
    const Board& board_;
    const std::vector<std::uint8_t> flash_;
    const std::vector<std::uint8_t> ram_;
    const std::uint32_t vector_table_;
    const std::function<void()> output_ready_;
    const std::function<void(const std::string&)> log_;
    mutable std::mutex mutex_;
    std::deque<std::uint8_t> output_;
    std::vector<std::uint8_t> input_;
    std::string error_line_;
    Wakeup wakeup_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;  // last: it uses everything above
};

// The emulator is started from this thread so that it dies with it.
void EmulatedFirmware::run() {
    try {
        const UniqueFd flash = memory_image("chipload-sim-flash", flash_);
        const UniqueFd ram = memory_image("chipload-sim-ram", ram_);
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
            throw_errno("socketpair");
        }
        UniqueFd usart(pair[0]);
        UniqueFd emulator_usart(pair[1]);
        ::setsockopt(emulator_usart.get(), SOL_SOCKET, SO_SNDBUF, &socket_buffer_bytes,
                     sizeof socket_buffer_bytes);
        int error_pipe[2];
        if (::pipe2(error_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw_errno("pipe");
        }
        UniqueFd errors(error_pipe[0]);
        UniqueFd emulator_errors(error_pipe[1]);
        std::vector<std::string> argv{program_,
                                      "-M",
                                      std::string(board_.machine),
                                      "-icount",
                                      "shift=" + std::to_string(board_.icount_shift) + ",align=on",
                                      "-nodefaults",
                                      "-display",
                                      "none",
                                      "-monitor",
                                      "none",
                                      "-chardev",
                                      "stdio,id=usart1,signal=off",
                                      "-serial",
                                      "chardev:usart1"};
        std::ranges::copy(loader_arguments(vector_table_), std::back_inserter(argv));
        const std::array fds{emulator_usart.get(), emulator_usart.get(), emulator_errors.get(),
                             flash.get(), ram.get()};
        if (stopping_) {
            return;
        }
        ChildProcess emulator(argv, fds);
        char from[40];
        std::snprintf(from, sizeof from, " from 0x%08X", vector_table_);
        log("firmware runs on " + program_ + " -M " + std::string(board_.machine) + from +
            " (pid " + std::to_string(emulator.pid()) + ")");
        emulator_usart.reset();
        emulator_errors.reset();
        bridge(emulator, std::move(usart), std::move(errors));
    } catch (const std::exception& error) {
        log(std::string("firmware not started: ") + error.what());
    }
}

void EmulatedFirmware::bridge(ChildProcess& emulator, UniqueFd usart, UniqueFd errors) {
    bool usart_open = true;
    while (!stopping_ && usart_open) {
        bool room = false;
        bool to_send = false;
        {
            std::lock_guard lock(mutex_);
            room = output_.size() < output_limit;
            to_send = !input_.empty();
        }
        // A full queue takes the socket out of the poll: no busy wait on a
        // readable or hung-up socket nobody can read yet.
        const short usart_events = static_cast<short>(POLLIN | (to_send ? POLLOUT : 0));
        std::array<pollfd, 3> fds{{{room || to_send ? usart.get() : -1,
                                    static_cast<short>(room ? usart_events : POLLOUT), 0},
                                   {errors ? errors.get() : -1, POLLIN, 0},
                                   {wakeup_.fd(), POLLIN, 0}}};
        poll_until(fds, std::nullopt);
        wakeup_.drain();
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !read_errors(errors.get())) {
            errors.reset();
        }
        if ((fds[0].revents & POLLOUT) != 0) {
            write_usart(usart.get());
        }
        if (room && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            usart_open = read_usart(usart.get());
        }
    }
    if (stopping_) {
        return;  // the emulator is killed by its owner on the way out
    }
    // The emulator closed its USART: it has ended (or is about to).
    while (errors) {
        std::array<pollfd, 1> fds{{{errors.get(), POLLIN, 0}}};
        if (poll_until(fds, Clock::now() + std::chrono::seconds(1)) <= 0 ||
            !read_errors(errors.get())) {
            break;
        }
    }
    emulator.kill();
    log("firmware stopped: the emulator " +
        describe_wait_status(emulator.exit_status().value_or(0)));
}

bool EmulatedFirmware::read_usart(int fd) {
    std::array<std::uint8_t, output_limit> buffer{};
    std::size_t room = 0;
    {
        std::lock_guard lock(mutex_);
        room = output_limit - std::min(output_limit, output_.size());
    }
    const ssize_t n = ::read(fd, buffer.data(), room);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        return false;
    }
    if (n > 0) {
        {
            std::lock_guard lock(mutex_);
            output_.insert(output_.end(), buffer.begin(), buffer.begin() + n);
        }
        if (output_ready_) {
            output_ready_();
        }
    }
    return true;
}

void EmulatedFirmware::write_usart(int fd) {
    std::lock_guard lock(mutex_);
    if (const auto written = write_some(fd, input_)) {
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(*written));
    } else {
        input_.clear();  // nobody reads any more: the end shows on the read side
    }
}

bool EmulatedFirmware::read_errors(int fd) {
    std::array<char, 512> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        if (!error_line_.empty()) {
            log("emulator: " + std::exchange(error_line_, {}));
        }
        return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
        if (buffer[static_cast<std::size_t>(i)] == '\n') {
            log("emulator: " + std::exchange(error_line_, {}));
        } else if (error_line_.size() < 1024) {
            error_line_ += buffer[static_cast<std::size_t>(i)];
        }
    }
    return true;
}

}  // namespace

std::optional<std::string_view> emulator_machine(const Product& product) {
    const Board* board = board_for(product);
    return board ? std::optional(board->machine) : std::nullopt;
}

std::optional<std::string> emulator_unavailable(const Product& product) {
    if (board_for(product)) {
        return std::nullopt;
    }
    std::string why =
        "no emulated board has the chip of " + std::string(product.name) + " (product ID 0x";
    char pid[8];
    std::snprintf(pid, sizeof pid, "%03X", product.pid);
    why += pid;
    why += "); QEMU emulates";
    for (const Board& board : boards) {
        char line[64];
        std::snprintf(line, sizeof line, "%s %.*s (0x%03X, -M %.*s)",
                      &board == &boards[0] ? "" : ",", static_cast<int>(board.chip.size()),
                      board.chip.data(), board.pid, static_cast<int>(board.machine.size()),
                      board.machine.data());
        why += line;
    }
    return why;
}

std::optional<std::string> find_emulator() {
    return find_program(std::string(emulator_program));
}

FirmwareLauncher emulator_launcher(std::string program) {
    return [program = std::move(program)](
               const FirmwareStart& start) -> std::unique_ptr<RunningFirmware> {
        const Board* board = board_for(start.product);
        if (!board) {
            return nullptr;
        }
        return std::make_unique<EmulatedFirmware>(program, *board, start);
    };
}

}  // namespace stm32sim
