// Faults the simulated target can inject. Every random choice comes from the
// target's seed, so a run with the same seed and the same input misbehaves
// in the same way.
#pragma once

#include <cstdint>
#include <optional>

#include "stm32sim/line.hpp"

namespace stm32sim {

// One step of one command that the bootloader answers with NACK instead of
// ACK, in the nth time that command arrives (counted from 1 over the whole
// run, resets included). The step is refused even when its bytes are good.
struct RefusedStep {
    enum class Step {
        command,  // the command code and its complement (0x7F: the synchronisation)
        address,  // the start address (Read Memory, Go, Write Memory)
        length,   // the byte count (Read Memory)
        data,     // the data block (Write Memory), page list (Erase), sector list (Write Protect)
    };

    std::uint8_t command = 0;
    Step step = Step::command;
    std::uint32_t occurrence = 1;

    bool operator==(const RefusedStep&) const = default;
};

// Whether the bootloader's command reaches this step, so that a refusal
// configured for it can happen at all.
bool command_has_step(std::uint8_t command, RefusedStep::Step step);

struct FaultConfig {
    // This command code is answered with NACK right after its complement.
    std::optional<std::uint8_t> refuse_command{};
    std::optional<RefusedStep> refuse_step{};
    // Chance that an ACK the bootloader would send becomes a NACK (the
    // command is then abandoned, as with any NACK).
    double refuse_fraction = 0.0;
    // Chance that a whole reply is never sent (the machine still acts on it).
    double lose_fraction = 0.0;
    // Replies of two bytes or more are cut into this many pieces (0 or 1:
    // not split), with split_gap of silence between the pieces.
    std::uint32_t split_pieces = 0;
    Duration split_gap{};
    // Chance that a random noise byte goes out just before a reply.
    double noise_fraction = 0.0;
    // The connection is dropped once, after this many bytes were sent.
    std::optional<std::uint64_t> drop_after_bytes{};
    // Chance that the chip resets by itself when a command arrives, instead
    // of answering it.
    double reset_fraction = 0.0;
    // Sent by the chip each time it comes out of reset, as some adapters do.
    std::optional<std::uint8_t> stray_byte_after_reset{};
    // Write Memory acknowledges as usual but this flash address keeps a
    // byte with its lowest bit inverted: a cell that did not take its value,
    // which only reading back finds.
    std::optional<std::uint32_t> corrupt_programmed_byte{};

    bool operator==(const FaultConfig&) const = default;
};

}  // namespace stm32sim
