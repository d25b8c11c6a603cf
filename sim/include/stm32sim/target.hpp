// The simulated chip: an STM32 of a chosen product (product.hpp) with its
// system-memory USART bootloader (ST's AN3155: protocol 2.2 on the F1, 3.1
// with Extended Erase on the later families), its flash, RAM, option bytes
// and identification words, a reset line driven by DTR and a BOOT0 pin
// driven by RTS.
//
// A transport (RFC 2217 server, pseudo-terminal server, or a test) feeds the
// bytes the host sends with receive() and collects what the chip sends with
// take_output(); next_output_due() says when to ask again. Every method is
// thread-safe. Times are passed in so that tests can use a synthetic clock.
//
// Flash behaves like the family's: programming works in whole write units
// (half-word, word, double-word or flash word) that must be erased unless
// the value is all zeros, Write Memory programs whole words (or units, when
// larger) from its start address and silently drops a trailing part, and
// writes or erases of write-protected sectors are skipped without an error.
// Readout protection NACKs everything but Get, Get Version, Get ID and
// Readout Unprotect, which mass-erases. Protection changes and option byte
// writes reset the chip after their last ACK.
//
//   stm32sim::Target chip({.product = *stm32sim::find_product("f103c8"),
//                          .boot0 = stm32sim::Boot0Polarity::tied_high});
//   chip.receive(bytes, now);
//   auto out = chip.take_output(now);   // {0x79} after 0x7F
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stm32sim/faults.hpp"
#include "stm32sim/firmware.hpp"
#include "stm32sim/line.hpp"
#include "stm32sim/product.hpp"

namespace stm32sim {

inline constexpr std::uint8_t ack = 0x79;
inline constexpr std::uint8_t nack = 0x1F;
inline constexpr std::uint8_t sync_byte = 0x7F;

// Which RTS level drives BOOT0 high (selects the bootloader at reset), or
// BOOT0 strapped high on the board (every reset enters the bootloader; the
// choice for a pseudo-terminal, which has no RTS).
enum class Boot0Polarity { rts_asserted, rts_deasserted, tied_high };

// State at power-up: follow the pins (DTR and RTS start deasserted), or start
// in the bootloader waiting for 0x7F as if BOOT0 had been high.
enum class StartMode { pins, bootloader };

enum class Mode {
    held_in_reset,  // DTR asserted: the chip does nothing
    bootloader,     // system memory boot: waiting for 0x7F or commands
    application,    // user code runs (greets if flash holds a vector table,
                    // or runs for real with a firmware launcher)
};

struct TargetConfig {
    Product product = all_products().front();
    Timing timing = Timing::none;
    LineSettings line{};  // host framing; only its pacing matters to the chip
    FaultConfig faults{};
    std::uint64_t seed = 1;  // unique ID and fault decisions
    Boot0Polarity boot0 = Boot0Polarity::rts_asserted;
    StartMode start = StartMode::pins;
    // Sent by the "application" once at start and then every second.
    std::string greeting = "Hello from ChipLoad sample\r\n";
    // Without modem lines (a pseudo-terminal) a 0x7F that follows this much
    // silence starts a new bootloader session, as a reset would.
    std::optional<Duration> resync_after_idle{};
    // Protection at power-up: read protection level 1, and write protection
    // of these groups (4 KiB on the F1, sectors on the F2/F4, pages on the
    // G0/L4); a group past the chip's last protects nothing.
    bool read_protected = false;
    std::vector<std::uint32_t> write_protected_groups{};
    // The erase command the bootloader lists in its Get reply and takes, in
    // place of its version's: 0x43, 0x44, or 0 for none (a bootloader that
    // disagrees with what its product ID suggests).
    std::optional<std::uint8_t> erase_command{};
    // When set, a program started from 0x08000000 runs for real: its
    // USART1 output goes out paced at the line rate and the host's bytes
    // reach it. Products it cannot run keep the greeting.
    FirmwareLauncher run_firmware{};
    // Called with one line per command (its address, length and verdict),
    // per reset and per application start; with run_firmware also from the
    // firmware's own thread.
    std::function<void(const std::string&)> log{};
};

// One command handled by the bootloader, for tests and the -v log.
struct CommandRecord {
    std::uint8_t command = 0;  // command code; 0x7F for the synchronisation
    std::optional<std::uint32_t> address{};
    std::optional<std::uint32_t> length{};  // bytes, or pages for Erase
    bool acknowledged = false;              // final verdict: ACK or NACK
    bool reply_lost = false;                // the lose fault swallowed the reply
    std::string text{};                     // the line logged with -v
};

struct Output {
    std::vector<std::uint8_t> bytes{};
    bool drop_connection = false;  // the drop fault fired: hang up after these bytes
};

class Target {
  public:
    explicit Target(TargetConfig config);
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // --- wire side -------------------------------------------------------
    void receive(std::span<const std::uint8_t> bytes, TimePoint now = Clock::now());
    // Bytes whose last bit has left the chip by `now`.
    Output take_output(TimePoint now = Clock::now());
    // When to take output next; nullopt when nothing is pending. Never before a byte is
    // complete; bytes that follow one another closely are taken together, at most a
    // millisecond after they are complete and the last of them on time.
    std::optional<TimePoint> next_output_due() const;
    // Forget pending output (a new client, a purge); the greeting schedule
    // restarts from now.
    void discard_output(TimePoint now = Clock::now());

    void set_line(const LineSettings& line);
    LineSettings line() const;
    // DTR asserted holds the chip in reset; releasing it boots the chip, with
    // BOOT0 sampled from RTS at that moment.
    void set_dtr(bool asserted, TimePoint now = Clock::now());
    void set_rts(bool asserted, TimePoint now = Clock::now());
    bool dtr() const;
    bool rts() const;
    // A reset pulse (power-on or the reset button).
    void reset(TimePoint now = Clock::now());
    // Stops a firmware running for real (nobody is left to hear it); the
    // chip stays silent until its next reset.
    void stop_firmware();
    // A new host: a firmware stopped by stop_firmware starts again from its
    // vector table, as a board whose port opening pulses its reset would.
    void resume_firmware(TimePoint now = Clock::now());
    // Called (from whatever thread changed the state) when output may have
    // become due earlier than a transport last learned; one listener.
    void set_output_listener(std::function<void()> listener);

    // --- inspection and set-up for tests and the command line --------------
    Mode mode() const;
    const Product& product() const;
    std::vector<std::uint8_t> flash() const;
    // Reads any mapped memory (flash, RAM, system memory, option bytes);
    // nullopt when the range is not mapped.
    std::optional<std::vector<std::uint8_t>> read_memory(std::uint32_t address,
                                                         std::uint32_t length) const;
    // Loads bytes into flash as a programmer would (no erase rules); false
    // when the range is outside flash.
    bool load_flash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    std::array<std::uint8_t, 12> unique_id() const;
    bool readout_protected() const;
    std::uint32_t write_protection() const;  // WRP bits, 0 = group protected (first 32)
    std::uint32_t write_protection_groups() const;
    std::uint64_t reset_count() const;
    std::vector<CommandRecord> commands() const;
    void clear_commands();
    // Replaces the faults from now on, as if the chip had started with them
    // (a test's way to make a connected board fall silent).
    void set_faults(const FaultConfig& faults);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace stm32sim
