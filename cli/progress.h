// Progress of every board on standard error: one live bar per board on a
// terminal, plain lines otherwise, nothing when quiet. Each board's thread
// reports its own line; one lock keeps lines whole.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

enum class ProgressStyle { kBar, kLines, kNone };

// "write   [########----------------] 24576/65536 B  37%  11.2 KiB/s  0:04 left";
// the rate and time left only for bytes and once they mean something.
std::string formatProgress(std::string_view phase, std::uint64_t done, std::uint64_t total,
                           std::string_view unit, std::chrono::duration<double> elapsed,
                           std::size_t barWidth);

inline constexpr std::string_view kBytes = "B";

class Progress {
  public:
    using Clock = std::chrono::steady_clock;

    Progress(std::FILE* out, ProgressStyle style, std::vector<std::string> boards,
             std::function<Clock::time_point()> now = Clock::now);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // A phase (erase, write, verify, read ...) of `total` units ("B", "pages")
    // begins.
    void begin(std::size_t board, std::string_view phase, std::uint64_t total,
               std::string_view unit = kBytes);
    void advance(std::size_t board, std::uint64_t done);
    // A line about one board (a step done), printed above the bars.
    void note(std::size_t board, std::string_view text);
    // A failure line: printed even when quiet.
    void error(std::size_t board, std::string_view text);
    // Clears the live bars, so that what follows starts on a clean line.
    void close();

  private:
    struct Board {
        std::string name;
        std::string phase;
        std::string unit;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        Clock::time_point started{};
        int lastQuarter = -1;  // plain lines: the last quarter printed
    };

    std::string lineFor(const Board& board) const;
    void drawLocked(bool force);
    void eraseBarsLocked();
    void printLocked(std::size_t board, std::string_view text);

    std::FILE* out_;
    ProgressStyle style_;
    std::function<Clock::time_point()> now_;
    std::mutex mutex_;
    std::vector<Board> boards_;
    std::size_t nameWidth_ = 0;
    bool barsShown_ = false;
    Clock::time_point lastDraw_{};
};

}  // namespace cli
