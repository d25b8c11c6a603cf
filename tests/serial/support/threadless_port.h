// A port record set up as if open, over a fake device, with no threads of its own: the thread
// that creates it stands in for both the dispatch and the write thread, so a test can call the
// library's thread steps one at a time and read the thread messages they post.
#pragma once

#include <functional>
#include <vector>

#include "TideComm.h"
#include "fake_comm_backend.h"

namespace serialtest {

class ThreadlessPort {
  public:
    // Call on a thread that has a message queue (RunOnQueueThread). Sizes come from the record.
    explicit ThreadlessPort(int port);
    ~ThreadlessPort();
    ThreadlessPort(const ThreadlessPort&) = delete;
    ThreadlessPort& operator=(const ThreadlessPort&) = delete;

    TideCommPortRecord* record() const { return record_; }
    FakeDevice& device() { return device_; }

  private:
    TideCommPortRecord* record_;
    FakeDevice device_;
};

// Every thread message waiting for the calling thread, oldest first.
std::vector<MSG> TakeMessages();

// Runs body on a thread made with CreateThread (so it has a thread message queue) and waits.
void RunOnQueueThread(const std::function<void()>& body);

}  // namespace serialtest
