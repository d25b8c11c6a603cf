// The command line's exit codes: scripts and production lines branch on them.
#pragma once

#include <algorithm>

namespace cli {

enum class ExitCode : int {
    kSuccess = 0,
    kTargetFailed = 1,  // refused a command or stopped answering
    kUsage = 2,
    kBadFile = 3,         // unreadable or invalid
    kPortFailed = 4,      // cannot be opened or configured
    kVerifyMismatch = 5,  // also: blank-check found programmed bytes
    kInterrupted = 130,   // SIGINT, as shells report it
};

// With many boards the process exits with the highest code of any of them.
inline ExitCode worse(ExitCode a, ExitCode b) {
    return static_cast<ExitCode>(std::max(static_cast<int>(a), static_cast<int>(b)));
}

}  // namespace cli
