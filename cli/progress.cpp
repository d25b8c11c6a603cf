#include "progress.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>

namespace cli {
namespace {

// A terminal redraw at most this often; faster only costs the board's thread.
constexpr std::chrono::milliseconds kRedrawInterval{100};
constexpr std::size_t kBarWidth = 24;

std::string formatRate(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%.1f KiB/s", bytesPerSecond / 1024.0);
    }
    return text;
}

std::string formatDuration(double seconds) {
    const auto whole = static_cast<std::uint64_t>(std::ceil(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64, whole / 60, whole % 60);
    return text;
}

}  // namespace

std::string formatProgress(std::string_view phase, std::uint64_t done, std::uint64_t total,
                           std::string_view unit, std::chrono::duration<double> elapsed,
                           std::size_t barWidth) {
    done = std::min(done, total);
    const double fraction =
        total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    std::string line(phase);
    line.resize(std::max<std::size_t>(line.size(), 7), ' ');
    if (barWidth > 0) {
        const auto filled = static_cast<std::size_t>(fraction * static_cast<double>(barWidth));
        line += " [" + std::string(filled, '#') + std::string(barWidth - filled, '-') + "]";
    }
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, " %" PRIu64 "/%" PRIu64 " %.*s %3d%%", done, total,
                  static_cast<int>(unit.size()), unit.data(), static_cast<int>(fraction * 100.0));
    line += numbers;
    const double seconds = elapsed.count();
    // A rate from the first fraction of a second or the first bytes is noise.
    if (unit == kBytes && seconds >= 0.2 && done > 0) {
        const double rate = static_cast<double>(done) / seconds;
        line += "  " + formatRate(rate);
        if (done < total) {
            line += "  " + formatDuration(static_cast<double>(total - done) / rate) + " left";
        }
    }
    return line;
}

Progress::Progress(std::FILE* out, ProgressStyle style, std::vector<std::string> boards,
                   std::function<Clock::time_point()> now)
    : out_(out), style_(style), now_(std::move(now)) {
    for (auto& name : boards) {
        nameWidth_ = std::max(nameWidth_, name.size());
        boards_.emplace_back();
        boards_.back().name = std::move(name);
    }
}

Progress::~Progress() {
    close();
}

std::string Progress::lineFor(const Board& board) const {
    std::string line = board.name;
    line.resize(nameWidth_, ' ');
    if (board.phase.empty()) {
        return line + "  ...";
    }
    return line + "  " +
           formatProgress(board.phase, board.done, board.total, board.unit, now_() - board.started,
                          style_ == ProgressStyle::kBar ? kBarWidth : 0);
}

void Progress::eraseBarsLocked() {
    if (!barsShown_)
        return;
    // Up to the first bar line, clearing each on the way.
    for (std::size_t i = 0; i < boards_.size(); ++i) {
        std::fputs("\x1b[1A\r\x1b[2K", out_);
    }
    barsShown_ = false;
}

void Progress::drawLocked(bool force) {
    const auto now = now_();
    if (!force && barsShown_ && now - lastDraw_ < kRedrawInterval)
        return;
    lastDraw_ = now;
    eraseBarsLocked();
    for (const auto& board : boards_) {
        std::fprintf(out_, "%s\n", lineFor(board).c_str());
    }
    barsShown_ = true;
    std::fflush(out_);
}

void Progress::begin(std::size_t board, std::string_view phase, std::uint64_t total,
                     std::string_view unit) {
    if (style_ == ProgressStyle::kNone)
        return;
    std::lock_guard lock(mutex_);
    Board& b = boards_.at(board);
    b.phase = phase;
    b.unit = unit;
    b.done = 0;
    b.total = total;
    b.started = now_();
    b.lastQuarter = -1;
    if (style_ == ProgressStyle::kBar) {
        drawLocked(true);
    }
}

void Progress::advance(std::size_t board, std::uint64_t done) {
    if (style_ == ProgressStyle::kNone)
        return;
    std::lock_guard lock(mutex_);
    Board& b = boards_.at(board);
    if (b.phase.empty())
        return;  // a short query between phases
    b.done = done;
    if (style_ == ProgressStyle::kBar) {
        drawLocked(done >= b.total);
        return;
    }
    // Plain lines at each quarter, so a log shows movement without flooding.
    const int quarter = b.total == 0 ? 4 : static_cast<int>(std::min(done, b.total) * 4 / b.total);
    if (quarter > b.lastQuarter && quarter > 0) {
        b.lastQuarter = quarter;
        std::fprintf(out_, "%s\n", lineFor(b).c_str());
        std::fflush(out_);
    }
}

void Progress::note(std::size_t board, std::string_view text) {
    if (style_ == ProgressStyle::kNone)
        return;
    std::lock_guard lock(mutex_);
    printLocked(board, text);
}

void Progress::error(std::size_t board, std::string_view text) {
    std::lock_guard lock(mutex_);
    printLocked(board, text);
}

void Progress::printLocked(std::size_t board, std::string_view text) {
    eraseBarsLocked();
    std::string name = boards_.at(board).name;
    name.resize(nameWidth_, ' ');
    std::fprintf(out_, "%s  %.*s\n", name.c_str(), static_cast<int>(text.size()), text.data());
    if (style_ == ProgressStyle::kBar) {
        drawLocked(true);
    }
    std::fflush(out_);
}

void Progress::close() {
    if (style_ != ProgressStyle::kBar)
        return;
    std::lock_guard lock(mutex_);
    if (barsShown_) {
        // The final state of each bar stays on screen.
        drawLocked(true);
        barsShown_ = false;
    }
}

}  // namespace cli
