#include "fault_draw.h"

#include <array>
#include <cstdio>

namespace campaign {

namespace {

using Step = stm32sim::RefusedStep::Step;

bool Chance(std::mt19937_64& random, double p) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(random) < p;
}

double Rate(std::mt19937_64& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

int Between(std::mt19937_64& random, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
}

// Every command a session sends, with each step it has.
stm32sim::RefusedStep DrawRefusedStep(std::mt19937_64& random) {
    static constexpr std::array<std::uint8_t, 7> kCommands = {0x7F, 0x01, 0x02, 0x11,
                                                              0x21, 0x31, 0x43};
    static constexpr std::array<Step, 4> kSteps = {Step::command, Step::address, Step::length,
                                                   Step::data};
    stm32sim::RefusedStep refused;
    refused.command = kCommands[static_cast<std::size_t>(Between(random, 0, kCommands.size() - 1))];
    do {
        refused.step = kSteps[static_cast<std::size_t>(Between(random, 0, kSteps.size() - 1))];
    } while (!stm32sim::command_has_step(refused.command, refused.step));
    refused.occurrence = static_cast<std::uint32_t>(Between(random, 1, 6));
    return refused;
}

const char* StepName(Step step) {
    switch (step) {
        case Step::command:
            return "command";
        case Step::address:
            return "address";
        case Step::length:
            return "length";
        case Step::data:
            return "data";
    }
    return "?";
}

}  // namespace

stm32sim::FaultConfig DrawFaults(std::mt19937_64& random) {
    stm32sim::FaultConfig faults;
    if (Chance(random, 0.2)) {
        faults.lose_fraction = Rate(random, 0.002, 0.02);
    }
    if (Chance(random, 0.2)) {
        faults.refuse_fraction = Rate(random, 0.002, 0.02);
    }
    if (Chance(random, 0.2)) {
        faults.refuse_step = DrawRefusedStep(random);
    }
    if (Chance(random, 0.25)) {
        faults.split_pieces = static_cast<std::uint32_t>(Between(random, 2, 4));
        faults.split_gap = std::chrono::milliseconds(Between(random, 0, 3));
    }
    if (Chance(random, 0.2)) {
        faults.noise_fraction = Rate(random, 0.002, 0.02);
    }
    if (Chance(random, 0.1)) {
        faults.reset_fraction = Rate(random, 0.002, 0.01);
    }
    if (Chance(random, 0.1)) {
        faults.drop_after_bytes = static_cast<std::uint64_t>(Between(random, 1, 800));
    }
    return faults;
}

std::string DescribeFaults(const stm32sim::FaultConfig& faults) {
    std::string text;
    char part[64];
    const auto add = [&](const char* piece) {
        text += text.empty() ? "" : ", ";
        text += piece;
    };
    if (faults.lose_fraction > 0) {
        std::snprintf(part, sizeof part, "lose %.1f%%", faults.lose_fraction * 100);
        add(part);
    }
    if (faults.refuse_fraction > 0) {
        std::snprintf(part, sizeof part, "refuse %.1f%%", faults.refuse_fraction * 100);
        add(part);
    }
    if (faults.refuse_step) {
        std::snprintf(part, sizeof part, "refuse 0x%02X %s #%u", faults.refuse_step->command,
                      StepName(faults.refuse_step->step), faults.refuse_step->occurrence);
        add(part);
    }
    if (faults.split_pieces > 1) {
        std::snprintf(
            part, sizeof part, "split %ux%lldms", faults.split_pieces,
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(faults.split_gap).count()));
        add(part);
    }
    if (faults.noise_fraction > 0) {
        std::snprintf(part, sizeof part, "noise %.1f%%", faults.noise_fraction * 100);
        add(part);
    }
    if (faults.reset_fraction > 0) {
        std::snprintf(part, sizeof part, "reset %.1f%%", faults.reset_fraction * 100);
        add(part);
    }
    if (faults.drop_after_bytes) {
        std::snprintf(part, sizeof part, "drop after %llu bytes",
                      static_cast<unsigned long long>(*faults.drop_after_bytes));
        add(part);
    }
    return text.empty() ? "none" : text;
}

}  // namespace campaign
