// chipload-sim: a simulated STM32 bootloader target on RFC 2217 or a
// pseudo-terminal, its firmware optionally running on QEMU. Runs until
// SIGINT or SIGTERM, then writes --dump.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "options.hpp"
#include "stm32sim/emulator.hpp"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"

namespace {

using chipload_sim::Options;

std::optional<std::vector<std::uint8_t>> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Written beside the target and renamed over it, so that an interrupted
// dump never leaves half a file under the asked-for name.
bool write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::remove(temporary.c_str());
            return false;
        }
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// Sets up --run qemu; false (after saying why) when it cannot be honoured.
bool choose_firmware_runner(Options& options) {
    if (options.run != Options::Run::qemu) {
        return true;
    }
    const auto& product = options.target.product;
    if (const auto why = stm32sim::emulator_unavailable(product)) {
        std::cerr << "chipload-sim: --run qemu: " << *why << "; " << product.name
                  << " keeps the fixed greeting\n";
        return true;
    }
    const auto emulator = stm32sim::find_emulator();
    if (!emulator) {
        std::cerr << "chipload-sim: --run qemu: " << stm32sim::emulator_program
                  << " is not on PATH (install the Debian package qemu-system-arm)\n";
        return false;
    }
    options.target.run_firmware = stm32sim::emulator_launcher(*emulator);
    return true;
}

int run(Options options) {
    if (options.verbose) {
        options.target.log = [](const std::string& line) {
            std::fprintf(stderr, "chipload-sim: %s\n", line.c_str());
        };
    }
    if (!choose_firmware_runner(options)) {
        return 1;
    }
    // Signals are taken by sigwait below, never by another thread (the
    // target's firmware thread included): blocked before any is started.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    stm32sim::Target target(options.target);
    for (std::uint32_t group : options.target.write_protected_groups) {
        if (group >= target.write_protection_groups()) {
            std::cerr << "chipload-sim: --write-protect: group " << group << " past the "
                      << target.write_protection_groups() << " groups of " << target.product().name
                      << "\n";
            return 1;
        }
    }
    if (!options.image.empty()) {
        const auto image = read_file(options.image);
        if (!image) {
            std::cerr << "chipload-sim: cannot read image " << options.image << "\n";
            return 1;
        }
        if (!target.load_flash(stm32sim::flash_base, *image)) {
            std::cerr << "chipload-sim: image " << options.image << " (" << image->size()
                      << " bytes) does not fit the " << target.product().flash_bytes
                      << "-byte flash\n";
            return 1;
        }
        target.reset();  // the image is there from power-up
    }

    std::unique_ptr<stm32sim::Rfc2217Server> rfc2217;
    std::unique_ptr<stm32sim::PtyServer> pty;
    try {
        if (options.transport == Options::Transport::rfc2217) {
            rfc2217 = std::make_unique<stm32sim::Rfc2217Server>(target);
            rfc2217->start(options.host, options.port);
            std::cout << "rfc2217://" << options.host << ":" << rfc2217->port() << std::endl;
        } else {
            pty = std::make_unique<stm32sim::PtyServer>(target, options.baud);
            pty->start(options.link);
            std::cout << pty->slave_path() << std::endl;
        }
    } catch (const std::exception& error) {
        std::cerr << "chipload-sim: " << error.what() << "\n";
        return 1;
    }

    int signal_number = 0;
    sigwait(&signals, &signal_number);
    rfc2217.reset();
    pty.reset();
    if (!options.dump.empty() && !write_file(options.dump, target.flash())) {
        std::cerr << "chipload-sim: cannot write dump " << options.dump << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    auto parsed = chipload_sim::parse_options(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        (parsed.error ? std::cerr : std::cout) << parsed.message << "\n";
        return parsed.error ? 2 : 0;
    }
    return run(std::move(*parsed.options));
}
