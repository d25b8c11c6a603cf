// One subcommand on one board: open its port, bring it into the bootloader,
// identify it, do the job. Runs on the board's own thread with its own client.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "exit_code.h"
#include "image_file.h"
#include "options.h"
#include "progress.h"

namespace cli {

struct BoardOutcome {
    std::string port;
    std::string product;  // empty until identified
    ExitCode code = ExitCode::kSuccess;
    std::string summary;  // a few words for the summary table
    std::string output;   // lines for standard output (results, info)
    std::chrono::duration<double> elapsed{};
};

struct BoardJob {
    const Options& options;
    const isp::LoadedImage* image;  // flash and verify
    Progress& progress;
    std::size_t index;  // this board's line in progress
    const std::atomic<bool>* cancel;
};

BoardOutcome runBoard(const BoardJob& job, const std::string& port);

}  // namespace cli
