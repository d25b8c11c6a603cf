// Command line of chipload-sim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stm32sim/target.hpp"

namespace chipload_sim {

struct Options {
    stm32sim::TargetConfig target;
    enum class Transport { rfc2217, pty } transport = Transport::rfc2217;
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    std::string link;             // pty: symlink to the slave
    std::uint32_t baud = 115200;  // pty pacing
    std::string image;            // loaded at 0x08000000
    std::string dump;             // flash written here at exit
    bool verbose = false;
    // What a program started from flash does: send the fixed greeting, or
    // run on the emulator.
    enum class Run { greeting, qemu } run = Run::greeting;
};

// Either the options, or a message for the user (help text or an error; the
// bool says whether it is an error).
struct ParseResult {
    std::optional<Options> options;
    std::string message;
    bool error = false;
};

ParseResult parse_options(const std::vector<std::string>& args);

std::string usage();

}  // namespace chipload_sim
