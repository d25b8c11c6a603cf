#include "read_exchange.h"

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "session.h"

std::atomic<std::uint32_t> f_read_len{1};
std::atomic<std::uint32_t> f_read_rxint_iterator{0};
std::atomic<std::uint32_t> f_read_iterator{0};
std::atomic<std::uint8_t> f_read_start{0};
std::atomic<std::uint8_t> f_checkblank_start{0};
std::atomic<std::uint8_t> f_checkblank_rxint_start{0};
std::atomic<std::uint8_t> f_checkblank_erased{0xFF};

namespace {

// Guards only the buffer's lifetime: the worker that finishes a read releases
// it while the producer may be storing and a new read may be replacing it.
std::mutex bufferLock;
std::unique_ptr<unsigned char[]> f_read_temp;
std::uint32_t bufferLength = 0;
std::uint32_t readGeneration = 0;
std::atomic<std::uint32_t> readBase{0};

// Outlives the read's buffer so that it can be saved later.
std::vector<unsigned char> lastReadBack;
std::uint32_t lastReadBackBase = 0;
bool haveReadBack = false;

// Bumped under bufferLock by everything a sleeping worker must look at.
std::condition_variable workArrived;
std::uint64_t workCount = 0;
std::atomic<std::uint64_t> wakeups{0};

void SignalWorkLocked() {
    ++workCount;
    workArrived.notify_all();
}

void DropBufferLocked() {
    f_read_temp.reset();
    bufferLength = 0;
}

}  // namespace

bool ReadInProgress(void) {
    if (f_read_start.load() == 0 && f_checkblank_start.load() == 0) {
        return false;
    }
    // Every block stored, or the session still reading: the read will end by itself.
    return ISP_mode == 5 || f_read_rxint_iterator.load() >= f_read_len.load();
}

bool BeginFlashRead(std::uint32_t length, int display, std::uint32_t baseAddress) {
    std::lock_guard<std::mutex> lock(bufferLock);
    readBase = baseAddress;
    f_read_start = 0;
    f_checkblank_start = 0;
    DropBufferLocked();
    f_read_rxint_iterator = 0;
    f_read_iterator = 0;
    ++readGeneration;
    f_read_temp.reset(new (std::nothrow) unsigned char[length]);
    if (!f_read_temp) {
        return false;
    }
    bufferLength = length;
    f_read_len = length;
    if (display) {
        f_read_start = 1;
    } else {
        f_checkblank_start = 1;
    }
    return true;
}

bool StoreReadBlock(const unsigned char* data, std::uint32_t count) {
    std::lock_guard<std::mutex> lock(bufferLock);
    const std::uint32_t at = f_read_rxint_iterator.load(std::memory_order_relaxed);
    if (!f_read_temp || at > bufferLength || count > bufferLength - at) {
        return false;
    }
    std::memcpy(f_read_temp.get() + at, data, count);
    f_read_rxint_iterator.store(at + count, std::memory_order_release);
    SignalWorkLocked();
    return true;
}

bool FinishFlashRead(std::uint32_t position, std::uint32_t generation, bool stopProducer) {
    std::lock_guard<std::mutex> lock(bufferLock);
    if (generation != readGeneration) {
        return false;
    }
    if (stopProducer) {
        sub_read_byte_number = 0;
    }
    const bool displayedToEnd =
        f_read_start.load() == 1 && !stopProducer && position == bufferLength && f_read_temp;
    if (!f_read_iterator.compare_exchange_strong(position, 0)) {
        return false;
    }
    if (displayedToEnd) {
        lastReadBack.assign(f_read_temp.get(), f_read_temp.get() + bufferLength);
        lastReadBackBase = readBase.load();
        haveReadBack = true;
    }
    f_read_rxint_iterator = 0;
    f_read_start = 0;
    f_checkblank_start = 0;
    DropBufferLocked();
    return true;
}

bool ConsumeStoredBytes(const std::atomic<std::uint8_t>& flag, std::uint32_t minimum,
                        std::uint32_t maximum, ReadConsumer consume, void* context,
                        std::uint32_t* position, std::uint32_t* generation) {
    std::lock_guard<std::mutex> lock(bufferLock);
    const std::uint32_t at = f_read_iterator.load();
    const std::uint32_t stored = f_read_rxint_iterator.load(std::memory_order_acquire);
    if (flag.load() != 1 || !f_read_temp || at >= stored || stored - at < minimum ||
        stored > bufferLength) {
        return false;
    }
    const std::uint32_t offered = stored - at < maximum ? stored - at : maximum;
    const std::uint32_t used = consume(at, f_read_temp.get() + at, offered, context);
    // The quit signal may have been stored meanwhile: it wins.
    std::uint32_t expected = at;
    if (!f_read_iterator.compare_exchange_strong(expected, at + used)) {
        return false;
    }
    *position = at + used;
    *generation = readGeneration;
    return true;
}

std::uint32_t FlashReadBase(void) {
    return readBase.load();
}

bool CopyLastReadBack(std::vector<unsigned char>* bytes, std::uint32_t* baseAddress) {
    std::lock_guard<std::mutex> lock(bufferLock);
    if (!haveReadBack) {
        return false;
    }
    *bytes = lastReadBack;
    *baseAddress = lastReadBackBase;
    return true;
}

void ForgetLastReadBack(void) {
    std::lock_guard<std::mutex> lock(bufferLock);
    lastReadBack.clear();
    lastReadBack.shrink_to_fit();
    haveReadBack = false;
}

void WaitForReadWork(std::uint64_t* seen) {
    std::unique_lock<std::mutex> lock(bufferLock);
    workArrived.wait(
        lock, [seen] { return workCount != *seen || f_read_iterator.load() > f_read_len.load(); });
    *seen = workCount;
    wakeups++;
}

void WakeReadWorkers(void) {
    std::lock_guard<std::mutex> lock(bufferLock);
    SignalWorkLocked();
}

std::uint64_t ReadWorkerWakeups(void) {
    return wakeups.load();
}
