// What the command line was asked to do: the subcommand, its file and range
// options, and how to reach and wire the boards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boot_sequence.h"
#include "exit_code.h"

namespace cli {

enum class Subcommand {
    kFlash,
    kVerify,
    kRead,
    kErase,
    kBlankCheck,
    kInfo,
    kGo,
    kProtect,
    kUnprotect
};

// What protect and unprotect act on.
enum class ProtectionKind { kNone, kRead, kWrite };

enum class OutputFormat { kBinary, kHex };

struct PageRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;  // inclusive
};

struct Options {
    Subcommand command = Subcommand::kInfo;
    std::string file;                      // flash and verify: the image; read: where to write
    std::optional<std::uint32_t> address;  // --address, or go's ADDRESS
    std::optional<std::uint32_t> length;
    std::optional<OutputFormat> format;
    bool verify = true;
    bool massErase = false;
    bool goAfter = false;
    bool eraseAll = false;
    std::optional<PageRange> pages;
    bool json = false;
    ProtectionKind protection = ProtectionKind::kNone;
    std::vector<std::uint8_t> groups;  // protect --write: write-protection groups
    bool yes = false;                  // the operator accepts a destructive change
    bool quiet = false;

    std::vector<std::string> ports;
    std::uint32_t baud = 115200;
    isp::Wiring wiring;
    unsigned retries = 3;  // synchronisation attempts after the first
};

// Either options to run, or text to print and the code to exit with (the
// help on standard output with success, or one usage error line).
struct ParseOutcome {
    std::optional<Options> options;
    std::string message;
    ExitCode code = ExitCode::kSuccess;
};

// args: everything after the program name, the subcommand first.
ParseOutcome parseOptions(const std::vector<std::string>& args);

bool isSubcommand(std::string_view word);

std::string_view subcommandName(Subcommand command);

// The format a read writes when --format is not given: HEX for a .hex or
// .ihex name, else raw binary.
OutputFormat formatFor(const Options& options);

// The full help: every subcommand with its options, the port options and
// the exit codes.
std::string helpText();
// One line per subcommand for the program's top-level help.
std::string commandList();

}  // namespace cli
