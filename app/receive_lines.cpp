#include "receive_lines.h"

#include <cstdio>
#include <ctime>

namespace {

bool IsLineEnd(unsigned char byte) {
    return byte == '\r' || byte == '\n';
}

}  // namespace

ReceiveLines::Update ReceiveLines::feed(const unsigned char* bytes, std::size_t count, Mode mode,
                                        const std::string& stamp) {
    Update update;
    if (count == 0) {
        return update;
    }
    // A switch of mode ends the line shown in the other one.
    if (mode != mode_ && shown_) {
        current_.clear();
        started_ = false;
        hexBytes_ = 0;
        shown_ = false;
    }
    mode_ = mode;
    update.replaceLast = shown_;
    update.lines.push_back(current_);
    auto finishLine = [&] {
        current_.clear();
        started_ = false;
        hexBytes_ = 0;
        update.lines.emplace_back();
    };
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < count; i++) {
        const unsigned char byte = bytes[i];
        if (mode == Mode::kHex) {
            if (hexBytes_ == kHexBytesPerLine) {
                finishLine();
            }
            if (hexBytes_ > 0) {
                current_ += ' ';
            } else {
                current_ += stamp;
            }
            current_ += kDigits[byte >> 4];
            current_ += kDigits[byte & 0x0F];
            hexBytes_++;
            update.lines.back() = current_;
            continue;
        }
        if (IsLineEnd(byte)) {
            // The second half of CR LF (or LF CR) ends no further line.
            if (lastEnd_ != 0 && lastEnd_ != byte) {
                lastEnd_ = 0;
                continue;
            }
            lastEnd_ = byte;
            if (!started_) {  // an empty line is stamped too
                current_ += stamp;
                update.lines.back() = current_;
            }
            finishLine();
            continue;
        }
        lastEnd_ = 0;
        if (!started_) {
            current_ += stamp;
            started_ = true;
        }
        current_ += static_cast<char>(byte);
        update.lines.back() = current_;
    }
    // A line end at the very end leaves an empty line to come, not shown yet.
    shown_ = !(mode == Mode::kText && IsLineEnd(bytes[count - 1]));
    if (!shown_) {
        update.lines.pop_back();
    }
    if (mode == Mode::kHex) {
        lastEnd_ = 0;
    }
    return update;
}

void ReceiveLines::reset() {
    current_.clear();
    started_ = false;
    hexBytes_ = 0;
    shown_ = false;
    lastEnd_ = 0;
}

std::string ReceiveStamp(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()) % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(millis.count()));
    return text;
}
