// A pseudo-terminal whose slave a COM number is mapped to; the test holds the master end.
#pragma once

#include <chrono>
#include <string>

namespace serialtest {

class PtyLink {
  public:
    // Maps COM`com` to a new pseudo-terminal's slave, in raw mode.
    explicit PtyLink(int com);
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    void write(const std::string& bytes);
    // Reads until `count` bytes arrived or the time-out passed; what arrived.
    std::string read(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5));

  private:
    int master_;
    int slaveKeeper_;  // keeps the slave side open so the master never sees a hang-up
    std::string slavePath_;
};

}  // namespace serialtest
