#include "options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <stdexcept>

namespace cli {
namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct NamedCommand {
    std::string_view name;
    Subcommand command;
    std::string_view arguments;
    std::string_view summary;  // one line of the top-level help
};

constexpr std::array<NamedCommand, 9> kCommands{{
    {"flash", Subcommand::kFlash, "FILE", "erase what the image covers, write and verify it"},
    {"verify", Subcommand::kVerify, "FILE", "compare the flash with an image"},
    {"read", Subcommand::kRead, "OUT", "save the flash, or a part of it, to a file"},
    {"erase", Subcommand::kErase, "", "erase pages, or the whole flash"},
    {"blank-check", Subcommand::kBlankCheck, "", "check that the flash is erased"},
    {"info", Subcommand::kInfo, "", "identify the chip: IDs, sizes, protection"},
    {"go", Subcommand::kGo, "[ADDRESS]", "start the program"},
    {"protect", Subcommand::kProtect, "", "set read protection or write-protect groups"},
    {"unprotect", Subcommand::kUnprotect, "", "lift read or write protection"},
}};

// Decimal, or hexadecimal after 0x; nothing else (a leading 0 is not octal).
std::uint64_t parseNumber(std::string_view text, std::string_view option, std::uint64_t max) {
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value > max) {
        throw UsageError(std::string(option) + ": expected a number up to " + std::to_string(max) +
                         ", got '" + std::string(text) + "'");
    }
    return value;
}

std::uint32_t parseAddress(std::string_view text, std::string_view option) {
    return static_cast<std::uint32_t>(parseNumber(text, option, 0xFFFFFFFFu));
}

isp::ControlLine parseLine(std::string_view text, std::string_view option) {
    if (const auto line = isp::parseControlLine(text))
        return *line;
    throw UsageError(std::string(option) + ": expected dtr, rts or none, got '" +
                     std::string(text) + "'");
}

PageRange parsePages(std::string_view text) {
    const auto dash = text.find('-');
    const std::string_view first = text.substr(0, dash);
    const std::string_view last = dash == std::string_view::npos ? first : text.substr(dash + 1);
    const PageRange range{static_cast<std::uint32_t>(parseNumber(first, "--pages", 65535)),
                          static_cast<std::uint32_t>(parseNumber(last, "--pages", 65535))};
    if (range.last < range.first) {
        throw UsageError("--pages: the range " + std::string(text) + " runs backwards");
    }
    return range;
}

// "0,2-5": write-protection groups, each below 256, listed once.
std::vector<std::uint8_t> parseGroups(std::string_view text) {
    std::vector<std::uint8_t> groups;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const auto dash = item.find('-');
        const auto first = parseNumber(item.substr(0, dash), "GROUPS", 255);
        const auto last = dash == std::string_view::npos
                              ? first
                              : parseNumber(item.substr(dash + 1), "GROUPS", 255);
        if (last < first) {
            throw UsageError("GROUPS: the range " + std::string(item) + " runs backwards");
        }
        for (auto group = first; group <= last; ++group) {
            if (std::ranges::find(groups, group) != groups.end()) {
                throw UsageError("GROUPS: group " + std::to_string(group) + " given twice");
            }
            groups.push_back(static_cast<std::uint8_t>(group));
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return groups;
}

void addPorts(std::string_view list, std::vector<std::string>& ports) {
    while (true) {
        const auto comma = list.find(',');
        const std::string_view port = list.substr(0, comma);
        if (port.empty()) {
            throw UsageError("--ports: empty port name in the list");
        }
        ports.emplace_back(port);
        if (comma == std::string_view::npos)
            break;
        list.remove_prefix(comma + 1);
    }
}

using Commands = std::initializer_list<Subcommand>;
constexpr auto kAll = {Subcommand::kFlash, Subcommand::kVerify,     Subcommand::kRead,
                       Subcommand::kErase, Subcommand::kBlankCheck, Subcommand::kInfo,
                       Subcommand::kGo,    Subcommand::kProtect,    Subcommand::kUnprotect};

struct OptionRule {
    std::string_view name;
    bool takesValue;
    std::vector<Subcommand> appliesTo;
    std::function<void(Options&, std::string_view)> apply;
};

const std::vector<OptionRule>& optionRules() {
    using S = Subcommand;
    static const std::vector<OptionRule> rules{
        {"--port", true, kAll, [](Options& o, std::string_view v) { addPorts(v, o.ports); }},
        {"--ports", true, kAll, [](Options& o, std::string_view v) { addPorts(v, o.ports); }},
        {"--baud", true, kAll,
         [](Options& o, std::string_view v) {
             o.baud = static_cast<std::uint32_t>(parseNumber(v, "--baud", 12'000'000));
             if (o.baud < 50)
                 throw UsageError("--baud: at least 50");
         }},
        {"--reset", true, kAll,
         [](Options& o, std::string_view v) { o.wiring.reset = parseLine(v, "--reset"); }},
        {"--boot0", true, kAll,
         [](Options& o, std::string_view v) { o.wiring.boot0 = parseLine(v, "--boot0"); }},
        {"--invert-reset", false, kAll,
         [](Options& o, std::string_view) { o.wiring.invertReset = true; }},
        {"--invert-boot0", false, kAll,
         [](Options& o, std::string_view) { o.wiring.invertBoot0 = true; }},
        {"--reset-pulse", true, kAll,
         [](Options& o, std::string_view v) {
             o.wiring.resetPulse =
                 std::chrono::milliseconds(parseNumber(v, "--reset-pulse", 10000));
         }},
        {"--retries", true, kAll,
         [](Options& o, std::string_view v) {
             o.retries = static_cast<unsigned>(parseNumber(v, "--retries", 100));
         }},
        {"--quiet", false, kAll, [](Options& o, std::string_view) { o.quiet = true; }},
        {"--json", false, {S::kInfo}, [](Options& o, std::string_view) { o.json = true; }},
        {"--address",
         true,
         {S::kFlash, S::kVerify, S::kRead},
         [](Options& o, std::string_view v) { o.address = parseAddress(v, "--address"); }},
        {"--length",
         true,
         {S::kRead},
         [](Options& o, std::string_view v) {
             // More than any STM32 maps; keeps a mistyped length from
             // asking for gigabytes of memory.
             o.length = static_cast<std::uint32_t>(parseNumber(v, "--length", 16u << 20));
             if (*o.length == 0)
                 throw UsageError("--length: must not be 0");
         }},
        {"--format",
         true,
         {S::kRead},
         [](Options& o, std::string_view v) {
             if (v == "bin") {
                 o.format = OutputFormat::kBinary;
             } else if (v == "hex") {
                 o.format = OutputFormat::kHex;
             } else {
                 throw UsageError("--format: expected bin or hex, got '" + std::string(v) + "'");
             }
         }},
        {"--no-verify", false, {S::kFlash}, [](Options& o, std::string_view) { o.verify = false; }},
        {"--mass-erase",
         false,
         {S::kFlash},
         [](Options& o, std::string_view) { o.massErase = true; }},
        {"--go", false, {S::kFlash}, [](Options& o, std::string_view) { o.goAfter = true; }},
        {"--read",
         false,
         {S::kProtect, S::kUnprotect},
         [](Options& o, std::string_view) { o.protection = ProtectionKind::kRead; }},
        {"--write",
         false,
         {S::kProtect, S::kUnprotect},
         [](Options& o, std::string_view) { o.protection = ProtectionKind::kWrite; }},
        {"--yes",
         false,
         {S::kProtect, S::kUnprotect},
         [](Options& o, std::string_view) { o.yes = true; }},
        {"--all", false, {S::kErase}, [](Options& o, std::string_view) { o.eraseAll = true; }},
        {"--pages",
         true,
         {S::kErase},
         [](Options& o, std::string_view v) { o.pages = parsePages(v); }},
    };
    return rules;
}

bool appliesTo(const OptionRule& rule, Subcommand command) {
    for (const Subcommand c : rule.appliesTo) {
        if (c == command)
            return true;
    }
    return false;
}

void applyPositional(Options& options, std::string_view word, bool& given) {
    const bool wantsFile = options.command == Subcommand::kFlash ||
                           options.command == Subcommand::kVerify ||
                           options.command == Subcommand::kRead;
    const bool wantsGroups = options.command == Subcommand::kProtect;
    if (given || (!wantsFile && !wantsGroups && options.command != Subcommand::kGo)) {
        throw UsageError("unexpected argument '" + std::string(word) + "'");
    }
    given = true;
    if (wantsGroups) {
        options.groups = parseGroups(word);
    } else if (wantsFile) {
        options.file = word;
    } else {
        options.address = parseAddress(word, "go ADDRESS");
    }
}

// Read protection changes are destructive: without --yes the operator is
// told what would happen, and nothing is sent.
void checkProtection(const Options& options, bool positionalGiven) {
    const bool protect = options.command == Subcommand::kProtect;
    if (!protect && options.command != Subcommand::kUnprotect)
        return;
    const std::string name(subcommandName(options.command));
    if (options.protection == ProtectionKind::kNone) {
        throw UsageError(name + ": give --read or --write");
    }
    const bool write = options.protection == ProtectionKind::kWrite;
    if (protect && write && !positionalGiven) {
        throw UsageError("protect --write: which groups? (chipload protect --write 0,2-3 ...)");
    }
    if (positionalGiven && !write) {
        throw UsageError("protect --read takes no groups");
    }
    if (write || options.yes)
        return;
    throw UsageError(
        protect ? "protect --read would make the flash unreadable through the bootloader and "
                  "the debugger until read protection is lifted, which erases the whole flash; "
                  "add --yes to go ahead"
                : "unprotect --read would erase the whole flash of the chip (program and data) "
                  "and reset it; add --yes to go ahead");
}

void checkComplete(const Options& options, bool positionalGiven) {
    const std::string name(subcommandName(options.command));
    if (!positionalGiven &&
        (options.command == Subcommand::kFlash || options.command == Subcommand::kVerify ||
         options.command == Subcommand::kRead)) {
        throw UsageError(name + ": which file? (chipload " + name +
                         (options.command == Subcommand::kRead ? " OUT" : " FILE") +
                         " --port DEVICE)");
    }
    if (options.command == Subcommand::kErase && options.eraseAll == options.pages.has_value()) {
        throw UsageError("erase: give either --all or --pages A-B");
    }
    checkProtection(options, positionalGiven);
    if (isp::checkWiring(options.wiring)) {
        throw UsageError("--reset and --boot0 cannot share one line");
    }
    if (options.ports.empty()) {
        throw UsageError(name + ": no port given (--port DEVICE, or --ports A,B,...)");
    }
    for (std::size_t i = 0; i < options.ports.size(); ++i) {
        for (std::size_t j = i + 1; j < options.ports.size(); ++j) {
            if (options.ports[i] == options.ports[j]) {
                throw UsageError("port " + options.ports[i] + " given twice");
            }
        }
    }
    if (options.command == Subcommand::kRead && options.ports.size() > 1) {
        throw UsageError("read: one port at a time (each board would write the same file)");
    }
}

}  // namespace

bool isSubcommand(std::string_view word) {
    for (const auto& named : kCommands) {
        if (named.name == word)
            return true;
    }
    return false;
}

std::string_view subcommandName(Subcommand command) {
    for (const auto& named : kCommands) {
        if (named.command == command)
            return named.name;
    }
    return "?";
}

OutputFormat formatFor(const Options& options) {
    if (options.format)
        return *options.format;
    const auto dot = options.file.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : options.file.substr(dot);
    return extension == ".hex" || extension == ".ihex" || extension == ".HEX"
               ? OutputFormat::kHex
               : OutputFormat::kBinary;
}

ParseOutcome parseOptions(const std::vector<std::string>& args) {
    for (const auto& arg : args) {
        if (arg == "-h" || arg == "--help") {
            return {std::nullopt, helpText(), ExitCode::kSuccess};
        }
    }
    try {
        if (args.empty() || !isSubcommand(args[0])) {
            throw UsageError(
                "expected a subcommand: flash, verify, read, erase, blank-check, "
                "info, go, protect or unprotect (see chipload --help)");
        }
        Options options;
        for (const auto& named : kCommands) {
            if (named.name == args[0])
                options.command = named.command;
        }
        bool positionalGiven = false;
        for (std::size_t i = 1; i < args.size(); ++i) {
            std::string_view arg = args[i];
            if (!arg.starts_with("--")) {
                applyPositional(options, arg, positionalGiven);
                continue;
            }
            // --name=value is accepted beside --name value.
            std::optional<std::string_view> inlineValue;
            if (const auto equals = arg.find('='); equals != std::string_view::npos) {
                inlineValue = arg.substr(equals + 1);
                arg = arg.substr(0, equals);
            }
            const OptionRule* rule = nullptr;
            for (const auto& candidate : optionRules()) {
                if (candidate.name == arg)
                    rule = &candidate;
            }
            if (rule == nullptr) {
                throw UsageError("unknown option '" + std::string(arg) + "' (see chipload --help)");
            }
            if (!appliesTo(*rule, options.command)) {
                throw UsageError(std::string(arg) + " does not apply to " +
                                 std::string(subcommandName(options.command)));
            }
            std::string_view value;
            if (rule->takesValue) {
                if (inlineValue) {
                    value = *inlineValue;
                } else if (i + 1 < args.size()) {
                    value = args[++i];
                } else {
                    throw UsageError(std::string(arg) + ": missing value");
                }
            } else if (inlineValue) {
                throw UsageError(std::string(arg) + " takes no value");
            }
            rule->apply(options, value);
        }
        checkComplete(options, positionalGiven);
        return {std::move(options), {}, ExitCode::kSuccess};
    } catch (const UsageError& error) {
        return {std::nullopt, std::string("chipload: ") + error.what(), ExitCode::kUsage};
    }
}

std::string commandList() {
    std::string list;
    for (const auto& named : kCommands) {
        std::string call = "  " + std::string(named.name);
        if (!named.arguments.empty())
            call += " " + std::string(named.arguments);
        call.resize(std::max<std::size_t>(call.size() + 2, 20), ' ');
        list += call + std::string(named.summary) + "\n";
    }
    return list;
}

std::string helpText() {
    return R"(usage:
  chipload flash FILE [--address A] [--no-verify] [--mass-erase] [--go] [PORT OPTIONS]
  chipload verify FILE [--address A] [PORT OPTIONS]
  chipload read OUT [--address A] [--length N] [--format bin|hex] [PORT OPTIONS]
  chipload erase (--all | --pages A-B) [PORT OPTIONS]
  chipload blank-check [PORT OPTIONS]
  chipload info [--json] [PORT OPTIONS]
  chipload go [ADDRESS] [PORT OPTIONS]
  chipload protect (--read --yes | --write GROUPS) [PORT OPTIONS]
  chipload unprotect (--read --yes | --write) [PORT OPTIONS]
  chipload [--headless] [--demo] [--com N=DEVICE]...   the window

Programs STM32 microcontrollers through their USART bootloader.

FILE is Intel HEX (its addresses), ELF (its loadable segments at their
physical addresses) or raw binary (at --address, default 0x08000000); the
format is found from the content. flash erases only the pages the image
touches (--mass-erase: the whole chip), writes, verifies by reading back
(--no-verify: not) and with --go starts the program. read writes the whole
flash of the identified chip unless --address/--length say otherwise; the
format follows OUT's extension (.hex: Intel HEX) unless --format is given.
Numbers are decimal or 0x hexadecimal.

info shows the read protection level, and the option bytes decoded where
the device table knows the family (F1, F2, F4, G0, L4). A read-protected
chip answers Get ID but refuses reads: unprotect --read --yes lifts the
protection by erasing the whole flash. protect --write GROUPS protects
groups (4 KiB on the F1, sectors on the F2/F4, pages on the G0/L4; e.g.
0,2-3); unprotect --write lifts all of them. Each change resets the chip;
chipload synchronises again by itself. Other option bytes are not written.

PORT OPTIONS:
  --port DEVICE       a tty (/dev/ttyUSB0, /dev/serial/by-id/...),
                      rfc2217://HOST:PORT, or COMn through the port map;
                      repeat it, or give --ports A,B,..., to run the same job
                      on many boards at once
  --baud N            line rate (default 115200), always 8 data bits, even
                      parity, 1 stop bit
  --reset dtr|rts|none   the line wired to NRST (default dtr)
  --boot0 rts|dtr|none   the line wired to BOOT0 (default rts)
  --invert-reset      the reset line is active when deasserted
  --invert-boot0      BOOT0 is high when its line is deasserted
  --reset-pulse MS    how long reset is held (default 100)
  --retries N         synchronisation attempts after the first (default 3)
  --quiet             no progress on standard error

Progress goes to standard error, results to standard output.

exit codes:
  0  success
  1  the target refused a command or stopped answering
  2  usage error
  3  file unreadable or invalid
  4  port cannot be opened or configured
  5  verify mismatch (blank-check: the flash is not blank)
  130  interrupted (SIGINT) at a block boundary; the board waits in its
     bootloader and the port is closed cleanly
With many boards the exit code is the highest of them; info --json prints
one object per board, one per line.
)";
}

}  // namespace cli
