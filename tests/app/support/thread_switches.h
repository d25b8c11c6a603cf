// Context switches per thread of this process, as the kernel counts them: a
// thread that sleeps until work arrives adds none while nothing happens.
#pragma once

#include <map>
#include <string>

namespace apptest {

struct ThreadSwitches {
    std::string name;
    long switches = 0;  // voluntary and involuntary
};

// Keyed by thread id.
std::map<long, ThreadSwitches> SwitchesPerThread();

// Threads other than the caller that switched more than `most` times over
// `seconds` of the caller sleeping, as "tid (name): count" lines. A
// sanitizer's own thread is not counted.
std::string ThreadsAwake(int seconds, long most);

}  // namespace apptest
