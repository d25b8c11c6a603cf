// A pseudo-terminal for tests: the code under test opens slavePath() like a
// serial device, the test plays the far end through the master.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace chipload::test {

class PtyPair {
  public:
    // Throws std::runtime_error when no pseudo-terminal can be had. The slave
    // starts in raw mode and is held open, so the master never reads a hang-up
    // while the code under test reopens the slave.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    // Writes every byte to the master (the device receives them).
    void write(std::string_view bytes);
    // Reads up to count bytes from the master, returning early once count
    // arrived or timeout passed since the call began.
    std::string read(std::size_t count, std::chrono::milliseconds timeout);
    // Hangs up the far end: reads on the slave then fail.
    void closeMaster();

  private:
    int master_ = -1;
    int slaveKeeper_ = -1;
    std::string slavePath_;
};

}  // namespace chipload::test
