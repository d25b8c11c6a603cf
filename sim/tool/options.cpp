#include "options.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace chipload_sim {
namespace {

using stm32sim::Timing;

struct BadOption : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::uint64_t parse_unsigned(const std::string& text, const std::string& option,
                             std::uint64_t max) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        throw BadOption(option + ": not a number: '" + text + "'");
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);  // 0x.. allowed
    if (errno != 0 || *end != '\0' || value > max) {
        throw BadOption(option + ": not a number up to " + std::to_string(max) + ": '" + text +
                        "'");
    }
    return value;
}

double parse_fraction(const std::string& text, const std::string& option) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
        throw BadOption(option + ": expected a fraction from 0 to 1: '" + text + "'");
    }
    return value;
}

// "\r" and "\n" in the greeting, so that a shell can pass a line ending.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

void parse_endpoint(const std::string& text, Options& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        throw BadOption("--rfc2217: expected HOST:PORT, got '" + text + "'");
    }
    options.host = text.substr(0, colon);
    options.port =
        static_cast<std::uint16_t>(parse_unsigned(text.substr(colon + 1), "--rfc2217", 65535));
}

// "f103c8 (default), f103c6, ..." wrapped under the option's description.
std::string product_names() {
    std::string text;
    std::size_t line = 0;
    for (const stm32sim::Product& product : stm32sim::all_products()) {
        std::string item(product.name);
        item += text.empty() ? " (default)" : "";
        if (!text.empty()) {
            text += ",";
            ++line;
            if (line + item.size() + 1 > 52) {
                text += "\n                        ";
                line = 0;
            } else {
                text += " ";
                ++line;
            }
        }
        text += item;
        line += item.size();
    }
    return text;
}

// CMD:STEP[:N], for instance 0x31:data:3 (the data block of the third Write
// Memory).
stm32sim::RefusedStep parse_refused_step(const std::string& text) {
    using Step = stm32sim::RefusedStep::Step;
    const std::string option = "--refuse-step";
    const auto first = text.find(':');
    if (first == std::string::npos) {
        throw BadOption(option + ": expected CMD:STEP[:N], got '" + text + "'");
    }
    const auto second = text.find(':', first + 1);
    stm32sim::RefusedStep refused;
    refused.command = static_cast<std::uint8_t>(parse_unsigned(text.substr(0, first), option, 255));
    const std::string step = text.substr(
        first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (step == "command") {
        refused.step = Step::command;
    } else if (step == "address") {
        refused.step = Step::address;
    } else if (step == "length") {
        refused.step = Step::length;
    } else if (step == "data") {
        refused.step = Step::data;
    } else {
        throw BadOption(option + ": expected command, address, length or data as the step, got '" +
                        step + "'");
    }
    if (second != std::string::npos) {
        refused.occurrence = static_cast<std::uint32_t>(
            parse_unsigned(text.substr(second + 1), option, 1'000'000'000));
        if (refused.occurrence == 0) {
            throw BadOption(option + ": occurrences count from 1");
        }
    }
    if (!stm32sim::command_has_step(refused.command, stm32sim::RefusedStep::Step::command)) {
        throw BadOption(option + ": " + text.substr(0, first) +
                        " is not a command of this bootloader");
    }
    if (!stm32sim::command_has_step(refused.command, refused.step)) {
        throw BadOption(option + ": command " + text.substr(0, first) + " has no " + step +
                        " step");
    }
    return refused;
}

}  // namespace

// "0,2-5": group numbers below 256, each once.
std::vector<std::uint32_t> parse_groups(const std::string& text) {
    const std::string option = "--write-protect";
    std::vector<std::uint32_t> groups;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        const std::size_t dash = item.find('-');
        const auto first = parse_unsigned(item.substr(0, dash), option, 255);
        const auto last =
            dash == std::string::npos ? first : parse_unsigned(item.substr(dash + 1), option, 255);
        if (last < first) {
            throw BadOption(option + ": range runs backwards: '" + item + "'");
        }
        for (auto g = first; g <= last; ++g) {
            groups.push_back(static_cast<std::uint32_t>(g));
        }
        at = comma + 1;
    }
    return groups;
}

std::string usage() {
    return R"(usage: chipload-sim (--rfc2217 HOST:PORT | --pty [--link PATH] [--baud N]) [options]

A simulated STM32 (F0, F1, F2, F3, F4, F7, G0, G4, H7, L0, L1, L4 or WB) with
its USART bootloader (AN3155) and flash.

transports:
  --rfc2217 HOST:PORT   serve RFC 2217 clients in turn (port 0: any free port);
                        DTR resets the chip, RTS drives BOOT0
  --pty                 serve a pseudo-terminal; prints its path; starts in the
                        bootloader; a 0x7F after --idle ms of silence starts a
                        new session, unless it arrives inside a command
  --link PATH           pty: also make PATH a symlink to it
  --baud N              pty: line rate for pacing (8E1), default 115200
chip:
  --product NAME        )" +
           product_names() + R"(
  --timing real|none    real (default): line-rate pacing and datasheet flash
                        times; none: answer at once
  --image FILE          raw binary loaded into flash at 0x08000000
  --dump FILE           flash written to FILE at exit (SIGINT, SIGTERM)
  --read-protected      start with read protection (level 1)
  --write-protect GROUPS  start with these write-protection groups protected,
                        e.g. 0,2-3: 4 KiB each on F1-style blocks, sectors on
                        F2/F4, pages on G0/L4
  --seed N              unique ID and fault decisions (default 1)
  --greeting TEXT       the sample application's line, sent at start and every
                        second when flash holds a vector table
                        (default "Hello from ChipLoad sample\r\n")
  --run greeting|qemu   what a program in flash does once the chip boots from
                        flash (BOOT0 low at reset, or Go): greeting (default)
                        sends --greeting; qemu runs it on qemu-system-arm
                        (f100rb on -M stm32vldiscovery, f205rb on netduino2,
                        f407vg on netduinoplus2), its USART1 bridged to the
                        line both ways; flash writes by the firmware itself
                        are not kept; other products keep the greeting
  --boot0 rts|inverted|high  BOOT0 high when RTS is asserted (default), when
                        it is deasserted, or always (pty: always)
  --start pins|bootloader  rfc2217: state at power-up (default pins)
  --idle MS             pty: silence before a new session (default 100)
  -v, --verbose         log every command, address, length and verdict
faults (seeded):
  --refuse-command CODE   NACK this command code
  --refuse-step CMD:STEP[:N]  NACK one step of the Nth (default first) command
                          CMD, counted over the whole run; STEP is command,
                          address, length (Read Memory) or data (Write Memory's
                          block, Erase's page list, Write Protect's sectors);
                          0x7F:command:N refuses the Nth synchronisation
  --refuse-fraction P     turn this fraction of ACKs into NACKs
  --lose-fraction P       never send this fraction of replies
  --split N               cut replies into N pieces ...
  --split-gap MS          ... with MS of silence between them (default 5)
  --noise-fraction P      send a random byte before this fraction of replies
  --drop-after N          hang up once, after N bytes sent
  --reset-fraction P      reset instead of answering this fraction of commands
  --stray-byte VALUE      send this byte whenever the chip leaves reset
)";
}

ParseResult parse_options(const std::vector<std::string>& args) {
    Options options;
    options.target.timing = Timing::real;  // the tool paces at the line rate unless told otherwise
    bool transport_given = false;
    bool start_given = false;
    std::uint64_t idle_ms = 100;
    std::uint64_t split_gap_ms = 5;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size()) {
                    throw BadOption(arg + ": missing value");
                }
                return args[++i];
            };
            auto& faults = options.target.faults;
            if (arg == "-h" || arg == "--help") {
                return {std::nullopt, usage(), false};
            } else if (arg == "--rfc2217") {
                parse_endpoint(value(), options);
                options.transport = Options::Transport::rfc2217;
                transport_given = true;
            } else if (arg == "--pty") {
                options.transport = Options::Transport::pty;
                transport_given = true;
            } else if (arg == "--link") {
                options.link = value();
            } else if (arg == "--baud") {
                options.baud = static_cast<std::uint32_t>(parse_unsigned(value(), arg, 10'000'000));
                if (options.baud == 0) {
                    throw BadOption("--baud: must not be 0");
                }
            } else if (arg == "--product") {
                const std::string& name = value();
                auto product = stm32sim::find_product(name);
                if (!product) {
                    throw BadOption("--product: unknown product '" + name + "'");
                }
                options.target.product = *product;
            } else if (arg == "--timing") {
                const std::string& timing = value();
                if (timing != "real" && timing != "none") {
                    throw BadOption("--timing: expected real or none, got '" + timing + "'");
                }
                options.target.timing = timing == "real" ? Timing::real : Timing::none;
            } else if (arg == "--image") {
                options.image = value();
            } else if (arg == "--dump") {
                options.dump = value();
            } else if (arg == "--read-protected") {
                options.target.read_protected = true;
            } else if (arg == "--write-protect") {
                options.target.write_protected_groups = parse_groups(value());
            } else if (arg == "--seed") {
                options.target.seed = parse_unsigned(value(), arg, UINT64_MAX);
            } else if (arg == "--greeting") {
                options.target.greeting = unescape(value());
            } else if (arg == "--run") {
                const std::string& run = value();
                if (run != "greeting" && run != "qemu") {
                    throw BadOption("--run: expected greeting or qemu, got '" + run + "'");
                }
                options.run = run == "qemu" ? Options::Run::qemu : Options::Run::greeting;
            } else if (arg == "--boot0") {
                const std::string& polarity = value();
                if (polarity == "rts") {
                    options.target.boot0 = stm32sim::Boot0Polarity::rts_asserted;
                } else if (polarity == "inverted") {
                    options.target.boot0 = stm32sim::Boot0Polarity::rts_deasserted;
                } else if (polarity == "high") {
                    options.target.boot0 = stm32sim::Boot0Polarity::tied_high;
                } else {
                    throw BadOption("--boot0: expected rts, inverted or high, got '" + polarity +
                                    "'");
                }
            } else if (arg == "--start") {
                const std::string& start = value();
                if (start != "pins" && start != "bootloader") {
                    throw BadOption("--start: expected pins or bootloader, got '" + start + "'");
                }
                options.target.start =
                    start == "pins" ? stm32sim::StartMode::pins : stm32sim::StartMode::bootloader;
                start_given = true;
            } else if (arg == "--idle") {
                idle_ms = parse_unsigned(value(), arg, 3'600'000);
            } else if (arg == "-v" || arg == "--verbose") {
                options.verbose = true;
            } else if (arg == "--refuse-command") {
                faults.refuse_command =
                    static_cast<std::uint8_t>(parse_unsigned(value(), arg, 255));
            } else if (arg == "--refuse-step") {
                faults.refuse_step = parse_refused_step(value());
            } else if (arg == "--refuse-fraction") {
                faults.refuse_fraction = parse_fraction(value(), arg);
            } else if (arg == "--lose-fraction") {
                faults.lose_fraction = parse_fraction(value(), arg);
            } else if (arg == "--split") {
                faults.split_pieces =
                    static_cast<std::uint32_t>(parse_unsigned(value(), arg, 1024));
            } else if (arg == "--split-gap") {
                split_gap_ms = parse_unsigned(value(), arg, 60'000);
            } else if (arg == "--noise-fraction") {
                faults.noise_fraction = parse_fraction(value(), arg);
            } else if (arg == "--drop-after") {
                faults.drop_after_bytes = parse_unsigned(value(), arg, UINT64_MAX);
            } else if (arg == "--reset-fraction") {
                faults.reset_fraction = parse_fraction(value(), arg);
            } else if (arg == "--stray-byte") {
                faults.stray_byte_after_reset =
                    static_cast<std::uint8_t>(parse_unsigned(value(), arg, 255));
            } else {
                throw BadOption("unknown option '" + arg + "' (see --help)");
            }
        }
        if (!transport_given) {
            throw BadOption("choose a transport: --rfc2217 HOST:PORT or --pty (see --help)");
        }
        if (options.transport == Options::Transport::pty) {
            if (start_given && options.target.start == stm32sim::StartMode::pins) {
                throw BadOption("--start pins: a pseudo-terminal has no modem lines");
            }
            options.target.start = stm32sim::StartMode::bootloader;
            options.target.boot0 = stm32sim::Boot0Polarity::tied_high;
            options.target.resync_after_idle = std::chrono::milliseconds(idle_ms);
        }
        options.target.faults.split_gap = std::chrono::milliseconds(split_gap_ms);
    } catch (const BadOption& error) {
        return {std::nullopt, std::string("chipload-sim: ") + error.what(), true};
    }
    return {std::move(options), {}, false};
}

}  // namespace chipload_sim
