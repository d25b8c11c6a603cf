// The flash-read exchange: the reply engine (user-interface thread) stores the
// blocks of a read, the two workers consume them. Counters and flags are
// atomics: a block's bytes are published by the release store of
// f_read_rxint_iterator and seen by a worker's acquire load of it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

extern std::atomic<std::uint32_t> f_read_len;
extern std::atomic<std::uint32_t> f_read_rxint_iterator;  // stored so far (producer)
extern std::atomic<std::uint32_t> f_read_iterator;        // consumed so far (worker)
extern std::atomic<std::uint8_t> f_read_start;
extern std::atomic<std::uint8_t> f_checkblank_start;
extern std::atomic<std::uint8_t> f_checkblank_rxint_start;
// What the blank check takes as erased: the part's erased value.
extern std::atomic<std::uint8_t> f_checkblank_erased;

// A read runs while its flag is set. It is abandoned when the session has left
// Read Memory (a refusal, another operation, a disconnect) before it stored
// everything: nothing will complete it.
bool ReadInProgress(void);

// Starts a read of `length` bytes: drops whatever an abandoned read left
// behind, clears both positions and gives the read a fresh buffer. `display`
// selects the hex display (1) or the blank check (0); `baseAddress` is where
// the read starts in the target. False when no buffer could be had.
bool BeginFlashRead(std::uint32_t length, int display, std::uint32_t baseAddress);
// Where the current read starts in the target; a consumer may call it, as it
// does not take the exchange's lock.
std::uint32_t FlashReadBase(void);

// The producer's side: copies `count` bytes to the current position and
// publishes them. Refuses (false) bytes that would not fit the current read.
bool StoreReadBlock(const unsigned char* data, std::uint32_t count);

// Ends read `generation` from a worker that consumed it up to `position`:
// positions back to 0, flags cleared, buffer released (a display read that
// was consumed to its end is kept as the last read-back); with `stopProducer`
// the reply engine is first told that nothing remains to be read. False, and
// nothing done, when the quit signal or a newer read has taken over.
bool FinishFlashRead(std::uint32_t position, std::uint32_t generation, bool stopProducer);

// The worker's step. While the read that `flag` marks runs and at least
// `minimum` bytes past f_read_iterator are stored, hands up to `maximum` of
// them (with their offset) to `consume`, which returns how many it used, and
// advances f_read_iterator by that. All of it happens while the read cannot
// be replaced, so no line is made from a buffer another read has replaced.
// `consume` runs under the exchange's lock, so it must not call the engine.
// `position` and `generation` receive the new position and the read's
// identity; false when nothing was consumed.
using ReadConsumer = std::uint32_t (*)(std::uint32_t offset, const unsigned char* bytes,
                                       std::uint32_t count, void* context);
bool ConsumeStoredBytes(const std::atomic<std::uint8_t>& flag, std::uint32_t minimum,
                        std::uint32_t maximum, ReadConsumer consume, void* context,
                        std::uint32_t* position, std::uint32_t* generation);

// The workers sleep between reads: each waits here until bytes are stored or
// the quit signal is given. `seen` keeps the worker's last look, so that
// nothing stored between its last look and its wait is missed.
void WaitForReadWork(std::uint64_t* seen);
// Wakes both workers after the quit signal (f_read_iterator past f_read_len).
void WakeReadWorkers(void);
// How often the workers have woken from WaitForReadWork since start.
std::uint64_t ReadWorkerWakeups(void);

// The last display read that completed: its bytes and where they start.
// False (and both left alone) when none has completed since start.
bool CopyLastReadBack(std::vector<unsigned char>* bytes, std::uint32_t* baseAddress);
// Forgets it, as at start.
void ForgetLastReadBack(void);
