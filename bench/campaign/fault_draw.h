// The faults of one session, drawn from the campaign's seed: each kind is
// switched on independently, at a rate low enough that many sessions still
// get through.
#pragma once

#include <random>
#include <string>

#include "stm32sim/faults.hpp"

namespace campaign {

stm32sim::FaultConfig DrawFaults(std::mt19937_64& random);
// "lose 2.0%, split 3x1ms, refuse 0x31 data #2", or "none".
std::string DescribeFaults(const stm32sim::FaultConfig& faults);

}  // namespace campaign
