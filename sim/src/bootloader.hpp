// The USART bootloader's command machine (AN3155): protocol version 2.2 with
// Erase (0x43) on the F1, version 3.1 with Extended Erase (0x44) on the later
// families. It turns the host's bytes into replies; when the replies go out,
// and whether they arrive, is the target's concern.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fault_injector.hpp"
#include "memory.hpp"
#include "stm32sim/line.hpp"
#include "stm32sim/target.hpp"

namespace stm32sim {

struct Reply {
    enum class Then { nothing, reset, run };

    std::vector<std::uint8_t> bytes;
    Duration busy{};  // flash work done before the bytes go out
    Then then = Then::nothing;
    std::uint32_t run_address = 0;        // for Then::run: the vector table
    std::optional<CommandRecord> record;  // set when a command ends here
};

class Bootloader {
  public:
    // erase_command: what the Get reply lists in place of the version's
    // erase command (0 for none); unset for the version's own.
    Bootloader(Memory& memory, FaultInjector& faults,
               std::optional<std::uint8_t> erase_command = std::nullopt);

    // Back to waiting for the synchronisation byte (after a reset).
    void restart();
    // Between commands: the next byte would be a command code.
    bool awaiting_command() const { return state_ == State::wait_command; }
    std::vector<Reply> feed(std::uint8_t byte);

  private:
    enum class State {
        wait_sync,
        wait_command,
        wait_complement,
        address,      // 4 address bytes + checksum (Read, Go, Write)
        read_length,  // N and its complement
        write_data,   // N, N+1 bytes, checksum
        erase_count,
        erase_global_checksum,
        erase_pages,        // N+1 page numbers and checksum
        extended_count,     // two bytes: N, or a special erase code
        extended_checksum,  // the code's checksum
        extended_pages,     // N+1 two-byte page numbers and checksum
        protect_count,
        protect_sectors,
    };

    std::vector<Reply> on_command();
    std::vector<Reply> on_address();
    std::vector<Reply> on_read_length();
    std::vector<Reply> on_write_data();
    std::vector<Reply> on_global_erase();
    std::vector<Reply> on_page_erase();
    std::vector<Reply> on_extended_count();
    std::vector<Reply> on_special_erase();
    std::vector<Reply> on_extended_erase();
    std::vector<Reply> on_protect();

    // The ACK at a step of a command, unless the refuse fault turns it into
    // a NACK that ends the command.
    bool accept(std::vector<Reply>& replies, State next, std::size_t need);
    std::vector<Reply> refuse(const std::string& why);
    Reply finish(std::vector<std::uint8_t> bytes, bool acknowledged, const std::string& detail);
    void expect(State state, std::size_t bytes);
    Duration erase_time(std::span<const std::uint32_t> units) const;
    std::uint8_t version() const { return memory_.product().family->bootloader_version; }
    // The erase command this bootloader offers (0x43 or 0x44), or 0 for none.
    std::uint8_t erase_command() const;
    std::uint32_t address() const;

    Memory& memory_;
    FaultInjector& faults_;
    std::optional<std::uint8_t> erase_command_;
    State state_ = State::wait_sync;
    std::uint8_t command_ = 0;
    std::uint32_t address_ = 0;
    bool has_address_ = false;
    std::optional<std::uint32_t> length_;
    std::vector<std::uint8_t> buffer_;
    std::size_t need_ = 0;
};

// Names used in the log ("Read Memory"); "0x5A" style for unknown codes.
std::string command_name(std::uint8_t command);

}  // namespace stm32sim
