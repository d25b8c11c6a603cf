// Shared by the command line's tests: simulated boards served in this
// process, the command line run in-process with its output captured, and
// image files of one content in the three formats.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "hex_writer.h"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"

namespace cli_test {

enum class Transport { kPty, kRfc2217 };

inline std::string transportName(Transport transport) {
    return transport == Transport::kPty ? "pty" : "rfc2217";
}

// A simulated chip answering at once: the configured part (by default an
// F103C8, 64 KiB in 1 KiB pages), or the one named.
class SimBoard {
  public:
    explicit SimBoard(Transport transport, stm32sim::TargetConfig config = {},
                      std::string_view product = {}) {
        if (!product.empty()) {
            config.product = *stm32sim::find_product(product);
        }
        if (transport == Transport::kPty) {
            // As chipload-sim --pty: no modem lines, BOOT0 strapped high.
            config.start = stm32sim::StartMode::bootloader;
            config.boot0 = stm32sim::Boot0Polarity::tied_high;
            config.resync_after_idle = std::chrono::milliseconds(100);
        }
        chip_ = std::make_unique<stm32sim::Target>(config);
        if (transport == Transport::kPty) {
            pty_ = std::make_unique<stm32sim::PtyServer>(*chip_);
            pty_->start();
            port_ = pty_->slave_path();
        } else {
            rfc2217_ = std::make_unique<stm32sim::Rfc2217Server>(*chip_);
            rfc2217_->start("127.0.0.1", 0);
            port_ = "rfc2217://127.0.0.1:" + std::to_string(rfc2217_->port());
        }
    }

    stm32sim::Target& chip() { return *chip_; }
    const std::string& port() const { return port_; }
    std::vector<std::uint8_t> flash(std::uint32_t offset, std::uint32_t length) const {
        const auto all = chip_->flash();
        return {all.begin() + offset, all.begin() + offset + length};
    }

  private:
    std::unique_ptr<stm32sim::Target> chip_;
    std::unique_ptr<stm32sim::PtyServer> pty_;
    std::unique_ptr<stm32sim::Rfc2217Server> rfc2217_;
    std::string port_;
};

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

inline std::string readStream(std::FILE* file) {
    std::string text;
    std::rewind(file);
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

// The command line in this process, progress as plain lines.
inline CliRun runCli(const std::vector<std::string>& args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    CliRun run;
    run.code = cli::runCommandLine(args, out, err, false);
    run.out = readStream(out);
    run.err = readStream(err);
    return run;
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "chipload-cli-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(file(name), std::ios::binary) << content;
        return file(name);
    }

  private:
    std::filesystem::path path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed = 7) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * seed + 3) % 251);
    }
    return bytes;
}

// A little-endian ELF32 ARM executable: the first `split` bytes in a
// segment linked and loaded at `address`, the rest in one that runs in RAM
// but is loaded (physical address) right behind it, as initialised data is.
inline std::string elfImage(std::uint32_t address, const std::vector<std::uint8_t>& bytes,
                            std::size_t split) {
    std::string elf;
    auto u16 = [&](std::uint32_t v) {
        elf += static_cast<char>(v & 0xFF);
        elf += static_cast<char>((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    constexpr std::uint32_t kHeader = 52, kProgramHeader = 32;
    elf +=
        "\x7F"
        "ELF";
    elf += '\x01';  // 32-bit
    elf += '\x01';  // little-endian
    elf += '\x01';  // version
    elf += std::string(9, '\0');
    u16(2);   // executable
    u16(40);  // ARM
    u32(1);
    u32(address + 1);  // entry, Thumb
    u32(kHeader);      // program headers
    u32(0);            // no section headers
    u32(0x05000000);   // EABI5
    u16(kHeader);
    u16(kProgramHeader);
    u16(2);
    u16(40);
    u16(0);
    u16(0);
    const std::uint32_t data = kHeader + 2 * kProgramHeader;
    const auto first = static_cast<std::uint32_t>(split);
    const auto second = static_cast<std::uint32_t>(bytes.size() - split);
    for (const auto& [offset, vaddr, paddr, size] :
         {std::array<std::uint32_t, 4>{data, address, address, first},
          std::array<std::uint32_t, 4>{data + first, 0x20000000, address + first, second}}) {
        u32(1);  // PT_LOAD
        u32(offset);
        u32(vaddr);
        u32(paddr);
        u32(size);
        u32(size);
        u32(6);
        u32(4);
    }
    elf.append(bytes.begin(), bytes.end());
    return elf;
}

}  // namespace cli_test
