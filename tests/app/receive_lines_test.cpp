#include "receive_lines.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace app_test {
namespace {

using Mode = ReceiveLines::Mode;

struct Chunk {
    Chunk(std::string b, Mode m = Mode::kText, std::string s = {})
        : bytes(std::move(b)), mode(m), stamp(std::move(s)) {}
    std::string bytes;
    Mode mode;
    std::string stamp;
};

// The box as the echo keeps it: the last line replaced or lines appended.
std::vector<std::string> Shown(const std::vector<Chunk>& chunks) {
    ReceiveLines lines;
    std::vector<std::string> box;
    for (const Chunk& chunk : chunks) {
        const auto update = lines.feed(reinterpret_cast<const unsigned char*>(chunk.bytes.data()),
                                       chunk.bytes.size(), chunk.mode, chunk.stamp);
        std::size_t next = 0;
        if (update.replaceLast) {
            box.back() = update.lines.at(0);
            next = 1;
        }
        box.insert(box.end(), update.lines.begin() + static_cast<long>(next), update.lines.end());
    }
    return box;
}

TEST(ReceiveLines, DisplayRules) {
    const Mode hex = Mode::kHex;
    const struct {
        const char* rule;
        std::vector<Chunk> chunks;
        std::vector<std::string> box;
    } cases[] = {
        {"a line in pieces is one line", {{"hel"}, {"lo"}, {" world\r\n"}}, {"hello world"}},
        {"CR LF split over chunks ends one line", {{"a\r"}, {"\nb\n"}}, {"a", "b"}},
        {"LF CR and lone ends", {{"a\n\r"}, {"\r"}, {"b\rc"}}, {"a", "", "b", "c"}},
        {"two ends of one kind are two lines", {{"x\n\ny"}}, {"x", "", "y"}},
        {"nothing but a line end", {{"\r\n"}}, {""}},
        {"hex bytes spaced", {{"AB\x01", hex}}, {"41 42 01"}},
        {"hex continues across chunks", {{"\x01", hex}, {"\xFE\x7F", hex}}, {"01 FE 7F"}},
        {"hex wraps at 16",
         {{std::string(15, 'A'), hex}, {"BCD", hex}},
         {"41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 42", "43 44"}},
        {"hex shows line ends as bytes", {{"\r\n", hex}}, {"0D 0A"}},
        {"a mode switch starts a line", {{"ok"}, {"\x10", hex}, {"t"}}, {"ok", "10", "t"}},
        {"no bytes, no line", {{""}, {"", hex}}, {}},
        {"a line keeps the stamp of its first chunk",
         {{"a", Mode::kText, "[1] "}, {"b\nc", Mode::kText, "[2] "}},
         {"[1] ab", "[2] c"}},
        {"an empty line is stamped", {{"\n\n", Mode::kText, "[1] "}}, {"[1] ", "[1] "}},
        {"each hex line is stamped",
         {{std::string(17, '\x01'), hex, "[1] "}},
         {"[1] 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01", "[1] 01"}},
        {"a run of 6000 text bytes is one line",
         {{std::string(6000, 'z')}},
         {std::string(6000, 'z')}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.box, Shown(c.chunks)) << c.rule;
    }
}

TEST(ReceiveLines, ALongHexRunIsShownWhole) {
    const std::vector<std::string> box = Shown({{std::string(6000, '\x5A'), Mode::kHex}});
    ASSERT_EQ(375u, box.size());
    EXPECT_EQ(box.front(), box.back());
}

TEST(ReceiveLines, StampIsTheTimeOfDayToTheMillisecond) {
    std::tm noon{};
    noon.tm_year = 126;
    noon.tm_mon = 11;
    noon.tm_mday = 7;
    noon.tm_hour = 12;
    noon.tm_min = 34;
    noon.tm_sec = 56;
    noon.tm_isdst = -1;
    const auto when =
        std::chrono::system_clock::from_time_t(std::mktime(&noon)) + std::chrono::milliseconds(789);
    EXPECT_EQ("[12:34:56.789] ", ReceiveStamp(when));
    EXPECT_EQ("[12:34:57.000] ", ReceiveStamp(when + std::chrono::milliseconds(211)));
}

TEST(ReceiveLines, AfterAResetTheNextByteStartsALine) {
    ReceiveLines lines;
    const unsigned char part[] = {'a', 'b'};
    lines.feed(part, 2, Mode::kText);
    lines.reset();
    const auto update = lines.feed(part, 1, Mode::kText);
    EXPECT_FALSE(update.replaceLast);
    EXPECT_EQ(std::vector<std::string>{"a"}, update.lines);
}

}  // namespace
}  // namespace app_test
