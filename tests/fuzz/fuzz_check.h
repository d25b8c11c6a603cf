// Invariant checks of the fuzz targets. A failed check aborts, which libFuzzer
// records as a crash with its input and the replay driver turns into a failed test.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                              \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: invariant broken: %s (%s)\n", __FILE__, __LINE__, what, \
                         #condition);                                                            \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

// Reads the input front to back; past its end every value is 0.
class FuzzInput {
  public:
    FuzzInput(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ >= size_; }
    std::size_t left() const { return size_ - at_; }
    unsigned char byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to n bytes from here; fewer at the end.
    const unsigned char* take(std::size_t n, std::size_t* got) {
        *got = n < left() ? n : left();
        const unsigned char* p = data_ + at_;
        at_ += *got;
        return p;
    }

  private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
