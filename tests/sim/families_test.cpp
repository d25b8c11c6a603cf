// One part of each STM32 family: what its bootloader answers (AN3155 v2.2 or
// v3.1), where its identification words are, Extended Erase with page and
// sector numbers and the special codes, and whole-unit programming.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "memory.hpp"
#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

// Extended Erase frames: N (two bytes) and N+1 page numbers, or a special
// code, each followed by the XOR of the bytes before it.
Bytes page_list(const std::vector<std::uint16_t>& pages) {
    Bytes out{static_cast<std::uint8_t>((pages.size() - 1) >> 8),
              static_cast<std::uint8_t>(pages.size() - 1)};
    for (std::uint16_t page : pages) {
        out.push_back(static_cast<std::uint8_t>(page >> 8));
        out.push_back(static_cast<std::uint8_t>(page));
    }
    std::uint8_t x = 0;
    for (std::uint8_t b : out) {
        x ^= b;
    }
    out.push_back(x);
    return out;
}

Bytes special(std::uint16_t code) {
    const auto high = static_cast<std::uint8_t>(code >> 8);
    const auto low = static_cast<std::uint8_t>(code);
    return {high, low, static_cast<std::uint8_t>(high ^ low)};
}

Bytes read(Target& target, std::uint32_t address, std::uint8_t length) {
    const Bytes reply = talk(target, command(0x11) + address_frame(address) +
                                         Bytes{static_cast<std::uint8_t>(length - 1),
                                               static_cast<std::uint8_t>(~(length - 1))});
    if (reply.size() != 3u + length) {
        return {};
    }
    return Bytes(reply.begin() + 3, reply.end());
}

TEST(Families, EachPartIdentifiesItselfAtItsFamilysAddresses) {
    struct Case {
        const char* part;
        std::uint16_t pid;
        std::uint8_t version;
        std::uint16_t flash_kib;
        std::uint32_t flash_size_word;
        std::uint32_t unique_id;
    };
    // Addresses: FLASHSIZE_BASE and UID_BASE of the CMSIS device headers.
    for (const Case& c : {
             Case{"f030r8", 0x440, 0x31, 64, 0x1FFF'F7CC, 0x1FFF'F7AC},
             Case{"f103c8", 0x410, 0x22, 64, 0x1FFF'F7E0, 0x1FFF'F7E8},
             Case{"f205rb", 0x411, 0x31, 128, 0x1FFF'7A22, 0x1FFF'7A10},
             Case{"f303re", 0x446, 0x31, 512, 0x1FFF'F7CC, 0x1FFF'F7AC},
             Case{"f407vg", 0x413, 0x31, 1024, 0x1FFF'7A22, 0x1FFF'7A10},
             Case{"f746zg", 0x449, 0x31, 1024, 0x1FF0'F442, 0x1FF0'F420},
             Case{"g071rb", 0x460, 0x31, 128, 0x1FFF'75E0, 0x1FFF'7590},
             Case{"g474re", 0x469, 0x31, 512, 0x1FFF'75E0, 0x1FFF'7590},
             Case{"h743zi", 0x450, 0x31, 2048, 0x1FF1'E880, 0x1FF1'E800},
             Case{"l053r8", 0x417, 0x31, 64, 0x1FF8'007C, 0x1FF8'0050},
             Case{"l152re", 0x437, 0x31, 512, 0x1FF8'00CC, 0x1FF8'00D0},
             Case{"l476rg", 0x415, 0x31, 1024, 0x1FFF'75E0, 0x1FFF'7590},
             Case{"wb55rg", 0x495, 0x31, 1024, 0x1FFF'75E0, 0x1FFF'7590},
         }) {
        SCOPED_TRACE(c.part);
        Target target(bootloader_config(c.part));
        ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
        const bool v3 = c.version >= 0x30;
        const std::uint8_t erase = v3 ? 0x44 : 0x43;
        EXPECT_EQ(talk(target, command(0x00)),
                  (Bytes{ack, 11, c.version, 0x00, 0x01, 0x02, 0x11, 0x21, 0x31, erase, 0x63, 0x73,
                         0x82, 0x92, ack}));
        EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, c.version, 0x00, 0x00, ack}));
        EXPECT_EQ(talk(target, command(0x02)),
                  (Bytes{ack, 0x01, static_cast<std::uint8_t>(c.pid >> 8),
                         static_cast<std::uint8_t>(c.pid), ack}));
        // The erase command of the other protocol version is unknown here.
        EXPECT_EQ(talk(target, command(v3 ? 0x43 : 0x44)), Bytes{nack});
        EXPECT_EQ(read(target, c.flash_size_word, 2),
                  (Bytes{static_cast<std::uint8_t>(c.flash_kib),
                         static_cast<std::uint8_t>(c.flash_kib >> 8)}));
        const auto uid = target.unique_id();
        EXPECT_EQ(read(target, c.unique_id, 12), Bytes(uid.begin(), uid.end()));
        EXPECT_EQ(target.product().flash_bytes, c.flash_kib * 1024u);
        EXPECT_EQ(talk(target, command(0x11) + address_frame(flash_base + c.flash_kib * 1024u)),
                  (Bytes{ack, nack}))
            << "flash ends where its size says";
    }
}

// Flash filled with kFill, one exchange, then which erase units read erased
// (0xFF, or 0x00 on the L0 and L1).
constexpr std::uint8_t kFill = 0x5A;
struct EraseCase {
    const char* part;
    Bytes frame;  // after 0x44 0xBB
    Bytes reply;  // after the command's ACK
    std::set<std::uint32_t> erased;
    const char* log;  // the command's log line, or nullptr
};

std::set<std::uint32_t> erased_units(const Target& target) {
    const Memory layout(target.product(), target.unique_id());
    const Bytes flash = target.flash();
    const std::uint8_t blank = target.product().family->erased_byte;
    std::set<std::uint32_t> erased;
    for (std::uint32_t i = 0; i < layout.units().size(); ++i) {
        const auto& unit = layout.units()[i];
        const auto first = flash.begin() + unit.offset;
        if (std::all_of(first, first + unit.bytes, [&](std::uint8_t b) { return b == blank; })) {
            erased.insert(i);
        } else {
            EXPECT_TRUE(
                std::all_of(first, first + unit.bytes, [](std::uint8_t b) { return b == kFill; }))
                << "unit " << i << " partly erased";
        }
    }
    return erased;
}

std::set<std::uint32_t> range(std::uint32_t first, std::uint32_t end) {
    std::set<std::uint32_t> out;
    for (std::uint32_t i = first; i < end; ++i) {
        out.insert(i);
    }
    return out;
}

TEST(ExtendedErase, PagesSectorsAndSpecialCodes) {
    const std::vector<EraseCase> cases{
        {"l476rg",
         special(0xFFFF),
         {ack},
         range(0, 512),
         "Extended Erase 0x08000000 512 pages: ACK (mass erase)"},
        {"l476rg",
         special(0xFFFE),
         {ack},
         range(0, 256),
         "Extended Erase 0x08000000 256 pages: ACK (bank 1 erase)"},
        {"l476rg",
         special(0xFFFD),
         {ack},
         range(256, 512),
         "Extended Erase 0x08080000 256 pages: ACK (bank 2 erase)"},
        {"h743zi", special(0xFFFD), {ack}, range(8, 16), nullptr},
        {"l476rg", page_list({300}), {ack}, {300}, "Extended Erase 0x08096000 1 pages: ACK"},
        {"f407vg", page_list({1, 4}), {ack}, {1, 4}, "Extended Erase 0x08004000 2 sectors: ACK"},
        {"f746zg", page_list({7, 4}), {ack}, {4, 7}, nullptr},
        {"h743zi", page_list({8}), {ack}, {8}, nullptr},
        {"l053r8", page_list({511}), {ack}, {511}, nullptr},
        {"wb55rg", page_list({0, 255}), {ack}, {0, 255}, nullptr},
        // Refusals change nothing.
        {"g071rb", special(0xFFFD), {nack}, {}, "Extended Erase: NACK (no second bank)"},
        {"g071rb", special(0xFFFE), {nack}, {}, nullptr},
        {"l476rg", special(0xFFF5), {nack}, {}, "Extended Erase: NACK (reserved erase code)"},
        {"l476rg",
         {0xFF, 0xFF, 0x01},
         {nack},
         {},
         "Extended Erase: NACK (bad erase code checksum)"},
        {"f407vg",
         page_list({12}),
         {nack},
         {},
         "Extended Erase 1 sectors: NACK (page out of range)"},
        {"f407vg", page_list({0, 12}), {nack}, {}, nullptr},
        {"g071rb", page_list({64}), {nack}, {}, nullptr},
    };
    for (const EraseCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.part << " " << testing::PrintToString(c.frame));
        Target target(bootloader_config(c.part));
        ASSERT_TRUE(target.load_flash(flash_base, Bytes(target.product().flash_bytes, kFill)));
        ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
        target.clear_commands();
        EXPECT_EQ(talk(target, command(0x44)), Bytes{ack});
        EXPECT_EQ(talk(target, c.frame), c.reply);
        EXPECT_EQ(erased_units(target), c.erased);
        EXPECT_EQ(talk(target, command(0x01)).size(), 5u) << "the machine is ready for a command";
        if (c.log) {
            ASSERT_FALSE(target.commands().empty());
            EXPECT_EQ(target.commands().front().text, c.log);
        }
    }
}

TEST(ExtendedErase, ABadPageListChecksumErasesNothing) {
    Target target(bootloader_config("f407vg"));
    target.load_flash(flash_base, Bytes(64 * 1024, 0x00));
    talk(target, {0x7F});
    Bytes frame = page_list({0, 1});
    frame.back() ^= 0x40;
    EXPECT_EQ(talk(target, command(0x44) + frame), (Bytes{ack, nack}));
    EXPECT_EQ(target.read_memory(flash_base, 1), Bytes{0x00});
}

TEST(WriteUnits, WritesProgramWholeUnitsFromAnAlignedAddress) {
    struct Case {
        const char* part;
        std::uint32_t offset;
        std::size_t length;
        Bytes reply;             // after the command's ACK
        std::size_t programmed;  // leading bytes that took the data
    };
    for (const Case& c : {
             Case{"f030r8", 0x102, 6, {ack, ack}, 4},  // half-words, in whole words
             Case{"f407vg", 0x100, 6, {ack, ack}, 4},
             Case{"f407vg", 0x102, 4, {nack}, 0},       // word alignment
             Case{"g071rb", 0x100, 12, {ack, ack}, 8},  // double-words
             Case{"g071rb", 0x104, 8, {nack}, 0},
             Case{"l476rg", 0x100, 256, {ack, ack}, 256},
             Case{"h743zi", 0x100, 48, {ack, ack}, 32},  // 32-byte flash words
             Case{"h743zi", 0x110, 32, {nack}, 0},
             Case{"l053r8", 0x100, 4, {ack, ack}, 4},
         }) {
        SCOPED_TRACE(testing::Message()
                     << c.part << " +" << std::hex << c.offset << " " << std::dec << c.length);
        Target target(bootloader_config(c.part));
        talk(target, {0x7F});
        Bytes data(c.length);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(0x40 + i);
        }
        Bytes frame = address_frame(flash_base + c.offset);
        if (c.reply.size() == 2) {
            frame = frame + block(data);
        }
        EXPECT_EQ(talk(target, command(0x31) + frame), Bytes{ack} + c.reply);
        Bytes expected(c.length + 8, target.product().family->erased_byte);
        std::copy_n(data.begin(), c.programmed, expected.begin());
        EXPECT_EQ(
            target.read_memory(flash_base + c.offset, static_cast<std::uint32_t>(expected.size())),
            expected);
    }
}

TEST(WriteUnits, AProgrammedUnitIsNotReprogrammedUntilErased) {
    Target target(bootloader_config("g071rb"));
    talk(target, {0x7F});
    const Bytes first{1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes second{0, 0, 0, 0, 5, 6, 7, 8};
    auto write = [&](const Bytes& data) {
        return talk(target, command(0x31) + address_frame(flash_base) + block(data));
    };
    EXPECT_EQ(write(first), (Bytes{ack, ack, ack}));
    EXPECT_EQ(write(second), (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(flash_base, 8), first) << "the double-word was not erased";
    EXPECT_EQ(write(Bytes(8, 0x00)), (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(flash_base, 8), Bytes(8, 0x00))
        << "all zeros may always be written";
    EXPECT_EQ(talk(target, command(0x44) + page_list({0})), (Bytes{ack, ack}));
    EXPECT_EQ(write(second), (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(flash_base, 8), second);
}

TEST(FamilyTiming, SectorsEraseInTheirOwnTimes) {
    struct Case {
        const char* part;
        Bytes frame;
        Duration busy;
    };
    for (const Case& c : {
             Case{"f407vg", page_list({0, 4, 5}), 400ms + 1100ms + 2000ms},
             Case{"f407vg", special(0xFFFF), 16s},
             Case{"f746zg", page_list({3, 4, 5}), 250ms + 1000ms + 2000ms},
             Case{"l476rg", page_list({1, 2}), 44ms},
             Case{"h743zi", page_list({9}), 2s},
         }) {
        SCOPED_TRACE(c.part);
        TargetConfig config = bootloader_config(c.part);
        config.timing = Timing::real;
        Target target(config);
        const LineSettings line{};
        const TimePoint start{};
        target.receive(Bytes{0x7F} + command(0x44), start);
        while (target.next_output_due()) {
            target.take_output(*target.next_output_due());
        }
        const TimePoint sent = start + 1s;
        target.receive(c.frame, sent);
        // Each byte is complete one character time after the one before.
        const TimePoint arrived =
            sent + line.time_for_bytes(1) * static_cast<Duration::rep>(c.frame.size());
        const TimePoint done = arrived + c.busy + line.time_for_bytes(1);
        EXPECT_EQ(target.next_output_due(), done);
        EXPECT_EQ(target.take_output(done).bytes, Bytes{ack});
    }
}

}  // namespace
}  // namespace stm32sim::test

namespace stm32sim::test {
namespace {

// Seeded garbage biased towards command codes, for the Extended Erase
// parser and the larger write units.
TEST(FamiliesRobustness, RandomInputLeavesAWorkingMachine) {
    for (const char* part : {"l053r8", "f407vg", "h743zi"}) {
        SCOPED_TRACE(part);
        Target target(bootloader_config(part));
        std::uint64_t state = 7;
        auto next = [&] {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            return static_cast<std::uint8_t>(state >> 56);
        };
        const Bytes codes{0x00, 0x01, 0x02, 0x11, 0x21, 0x31, 0x44, 0x63, 0x7F};
        for (int i = 0; i < 20'000; ++i) {
            const std::uint8_t pick = next();
            if (pick < 64) {
                const std::uint8_t code = codes[pick % codes.size()];
                talk(target, {code, static_cast<std::uint8_t>(code ^ 0xFF)});
                if (code != 0x44) {
                    continue;
                }
                // An erase frame, mostly well formed; a short count of garbage
                // now and then (a long one would swallow the rest of the run).
                const std::uint8_t kind = next();
                if (kind < 64) {
                    talk(target, special(static_cast<std::uint16_t>(0xFFF0 | (kind & 0x0F))));
                } else if (kind < 224) {
                    talk(target, page_list({next(), static_cast<std::uint16_t>(next() << 2)}));
                } else {
                    talk(target, {static_cast<std::uint8_t>(next() & 0x01), next()});
                }
            } else {
                talk(target, {next()});
            }
            if (pick == 255) {
                target.reset();
            }
        }
        EXPECT_EQ(target.flash().size(), target.product().flash_bytes);
        const auto log = target.commands();
        const auto erases = std::ranges::count_if(
            log, [](const CommandRecord& r) { return r.command == 0x44 && r.length.has_value(); });
        EXPECT_GT(erases, 10) << "the input reaches the end of Extended Erase";
        target.reset();
        talk(target, {0x7F});
        talk(target, command(0x92));
        target.reset();
        EXPECT_EQ(talk(target, Bytes{0x7F} + command(0x01)),
                  (Bytes{ack, ack, 0x31, 0x00, 0x00, ack}));
    }
}

}  // namespace
}  // namespace stm32sim::test
