// How received bytes become lines of the receive box, as serial terminals show
// them: text is broken at its line ends, not where a chunk happened to end;
// hexadecimal is shown as spaced digit pairs, 16 bytes to a line. A line that
// is not finished is shown and grows as more arrives.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

class ReceiveLines {
  public:
    enum class Mode { kText, kHex };
    static constexpr std::size_t kHexBytesPerLine = 16;

    // What the box must do for a chunk: replace its last line (the unfinished
    // one shown before) by `lines[0]` when `replaceLast`, and append the rest.
    struct Update {
        bool replaceLast = false;
        std::vector<std::string> lines;
    };

    // `stamp` (may be empty) starts every line that begins in this chunk.
    Update feed(const unsigned char* bytes, std::size_t count, Mode mode,
                const std::string& stamp = {});
    // The box was cleared: the next byte starts a line of its own.
    void reset();

  private:
    std::string current_;       // the unfinished line as shown
    std::size_t hexBytes_ = 0;  // bytes on the current hex line
    bool shown_ = false;        // current_ is the box's last line
    bool started_ = false;      // a text line has its first byte (and stamp)
    Mode mode_ = Mode::kText;
    unsigned char lastEnd_ = 0;  // the line end just seen, to take CR LF as one
};

// "[12:34:56.789] ": the local time of day of a line's first byte.
std::string ReceiveStamp(std::chrono::system_clock::time_point when);
