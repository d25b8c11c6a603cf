// `chipload SUBCOMMAND ...`: the command line's entry. app/main.cpp hands
// over here when its first argument is a subcommand.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// True when argv[1] names a subcommand (flash, verify, read, ...).
bool wantsCommandLine(int argc, char** argv);

// Runs argv[1..]; returns the exit code.
int runCommandLine(int argc, char** argv);

// The same with the arguments after the program name and the streams to
// use; `errIsTerminal` chooses live bars over plain progress lines.
int runCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                   bool errIsTerminal);

}  // namespace cli
