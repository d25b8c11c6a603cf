// Operator wording of what went wrong on a board: one line saying what
// failed, where, and what to try, with the exit code it leads to.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "boot_sequence.h"
#include "comm_link.h"
#include "exit_code.h"
#include "result.h"

namespace cli {

struct FailureText {
    ExitCode code = ExitCode::kTargetFailed;
    std::string line;
};

std::string hexAddress(std::uint32_t address);

// A command that failed during `activity` ("writing", "reading back" ...).
FailureText describeFailure(const isp::Failure& failure, std::string_view activity);

// The first synchronisation failed: what was tried and the likely fixes.
FailureText describeSyncFailure(const isp::Failure& failure, const isp::Wiring& wiring,
                                std::uint32_t baud, unsigned attempts);

FailureText describeOpenFailure(const isp::CommOpenError& error, std::string_view port,
                                std::uint32_t baud);

}  // namespace cli
