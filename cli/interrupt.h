// SIGINT as a request to stop: the flag the clients check at each block
// boundary. A second SIGINT ends the process as usual.
#pragma once

#include <atomic>

namespace cli {

class InterruptWatch {
  public:
    InterruptWatch();   // installs the handler and clears the flag
    ~InterruptWatch();  // restores the previous handler
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    static std::atomic<bool>& flag();
};

}  // namespace cli
