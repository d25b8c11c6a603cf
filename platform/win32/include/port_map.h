// Which device a COM number stands for: a tty path or rfc2217://HOST:PORT.
#pragma once

#include <string>

namespace chipload::portmap {

inline constexpr int kFirstCom = 1;
inline constexpr int kLastCom = 10;

// From `--com N=DEVICE`; false (nothing stored) for N outside 1..10 or an
// empty device.
bool assign(int com, const std::string& device);

// The explicit assignment, else the environment variable CHIPLOAD_COMn, else
// the stable default (USB and ACM adapters by their /dev/serial/by-id names,
// then on-board ports); "" when there is none.
std::string resolve(int com);

void clearAssignments();

// Where the device of a COM number came from, in the order resolve() asks.
enum class Origin { none, commandLine, environment, detected };

struct Mapping {
    std::string device;  // "" when origin is none
    Origin origin = Origin::none;
};

// What resolve() answers, and where the answer came from.
Mapping lookup(int com);

}  // namespace chipload::portmap
