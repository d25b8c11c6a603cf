// The client against the simulated chip, on virtual time.
#include <gtest/gtest.h>

#include <atomic>

#include "case_name.h"
#include "client.h"
#include "script_link.h"
#include "sim_link.h"

namespace isp_test {
namespace {

using isp::Bytes;
using isp::Command;
using isp::Phase;
using isp::Status;
using namespace std::chrono_literals;

constexpr std::uint32_t kFlash = 0x08000000;

Bytes pattern(std::size_t count, unsigned seed) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7 + seed + (i >> 8));
    }
    return bytes;
}

stm32sim::TargetConfig chipConfig(stm32sim::FaultConfig faults = {}) {
    stm32sim::TargetConfig config;
    config.product = *stm32sim::find_product("f103c8");
    config.start = stm32sim::StartMode::bootloader;
    config.faults = faults;
    config.seed = 7;
    return config;
}

class ClientOnSim : public ::testing::Test {
  protected:
    explicit ClientOnSim(stm32sim::TargetConfig config = chipConfig()) : chip(config) {}

    isp::Client& client(isp::ClientOptions options = {}) {
        auto owned = std::make_unique<SimLink>(chip, clock);
        link = owned.get();
        client_ = std::make_unique<isp::Client>(std::move(owned), options, &clock);
        return *client_;
    }
    Bytes flash(std::uint32_t address, std::size_t count) {
        const Bytes all = chip.flash();
        return Bytes(all.begin() + (address - kFlash), all.begin() + (address - kFlash + count));
    }

    stm32sim::Target chip;
    ManualClock clock;
    SimLink* link = nullptr;

  private:
    std::unique_ptr<isp::Client> client_;
};

TEST_F(ClientOnSim, IdentifiesTheChip) {
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    const auto info = c.get();
    ASSERT_TRUE(info);
    EXPECT_EQ(0x22, info.value().version);
    EXPECT_TRUE(info.value().supports(Command::kWriteMemory));
    EXPECT_FALSE(info.value().supports(Command::kExtendedErase));
    const auto version = c.getVersion();
    ASSERT_TRUE(version);
    EXPECT_EQ(0x22, version.value().version);
    const auto id = c.getId();
    ASSERT_TRUE(id);
    EXPECT_EQ(0x410, id.value());
    // A second synchronisation finds the bootloader listening already.
    EXPECT_TRUE(c.synchronize());
    EXPECT_TRUE(c.getId());
}

TEST_F(ClientOnSim, WritesReadsAndErasesAnyLengthInBlocks) {
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    ASSERT_TRUE(c.eraseAll());
    const Bytes data = pattern(1000, 3);  // three whole blocks and a partial one
    std::vector<std::size_t> progress;
    c.setProgress([&](std::size_t done, std::size_t total) {
        EXPECT_EQ(1000u, total);
        progress.push_back(done);
    });
    ASSERT_TRUE(c.writeMemory(kFlash + 0x600, data));
    EXPECT_EQ((std::vector<std::size_t>{256, 512, 768, 1000}), progress);
    EXPECT_EQ(data, flash(kFlash + 0x600, 1000));

    std::vector<std::size_t> readProgress;
    c.setProgress([&](std::size_t done, std::size_t) { readProgress.push_back(done); });
    const auto back = c.readMemory(kFlash + 0x5FF, 1002);
    ASSERT_TRUE(back);
    EXPECT_EQ((std::vector<std::size_t>{256, 512, 768, 1002}), readProgress);
    Bytes expected = data;
    expected.insert(expected.begin(), 0xFF);
    expected.push_back(0xFF);
    EXPECT_EQ(expected, back.value());

    // The data spans pages 1 and 2; erasing page 2 leaves page 1 as written.
    const std::uint8_t page2[] = {2};
    c.setProgress({});
    ASSERT_TRUE(c.erasePages(page2));
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 0x200), flash(kFlash + 0x600, 0x200));
    EXPECT_EQ(Bytes(0x400, 0xFF), flash(kFlash + 0x800, 0x400));
}

TEST_F(ClientOnSim, PadsTheLastBlockToTheWriteUnit) {
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    ASSERT_TRUE(c.writeMemory(kFlash, Bytes{1, 2, 3, 4, 5}));
    // Sent: 31 CE, address, then a block of 8 bytes (count 7), 5 data + 3 pad.
    const Bytes& sent = link->sent();
    const Bytes block{0x07, 1, 2, 3, 4, 5, 0xFF, 0xFF, 0xFF};
    ASSERT_GE(sent.size(), block.size() + 1);
    EXPECT_EQ(block, Bytes(sent.end() - static_cast<long>(block.size()) - 1, sent.end() - 1));
    EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 0xFF, 0xFF, 0xFF}), flash(kFlash, 8));
}

TEST_F(ClientOnSim, RequestsTheProtocolCannotCarryAreRefusedBeforeAnyByteIsSent) {
    auto& c = client();
    const auto unaligned = c.writeMemory(kFlash + 2, Bytes{1, 2});
    ASSERT_FALSE(unaligned);
    EXPECT_EQ(Status::kInvalidArgument, unaligned.failure().status);
    EXPECT_EQ(Status::kInvalidArgument, c.readMemory(0xFFFFFF00, 0x101).failure().status);
    EXPECT_EQ(Status::kInvalidArgument, c.erasePages({}).failure().status);
    EXPECT_TRUE(link->sent().empty());
    EXPECT_TRUE(c.readMemory(kFlash, 0));
}

TEST_F(ClientOnSim, CancelStopsAtTheNextBlockAndSaysWhere) {
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    std::atomic<bool> cancel{false};
    c.setCancelFlag(&cancel);
    c.setProgress([&](std::size_t done, std::size_t) { cancel = done >= 512; });
    const Bytes data = pattern(1024, 9);
    const auto result = c.writeMemory(kFlash, data);
    ASSERT_FALSE(result);
    EXPECT_EQ(Status::kCancelled, result.failure().status);
    EXPECT_EQ(Command::kWriteMemory, result.failure().command);
    EXPECT_EQ(std::optional<std::uint32_t>(kFlash + 512), result.failure().address);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 512), flash(kFlash, 512));
    EXPECT_EQ(Bytes(512, 0xFF), flash(kFlash + 512, 512));
    // The line is left between commands: the next one works.
    cancel = false;
    EXPECT_TRUE(c.getId());
}

TEST_F(ClientOnSim, ABrokenLineFailsAtOnceWithoutRetries) {
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    link->breakLine();
    const auto start = clock.now();
    const auto result = c.readMemory(kFlash, 16);
    ASSERT_FALSE(result);
    EXPECT_EQ(Status::kLinkFailed, result.failure().status);
    EXPECT_EQ(1, result.failure().attempts);
    EXPECT_EQ(start, clock.now());
}

struct FailureCase {
    const char* name;
    stm32sim::FaultConfig faults;
    Command command;
    std::uint32_t address;
    Phase phase;
};

class Refusals : public ClientOnSim, public ::testing::WithParamInterface<FailureCase> {
  protected:
    Refusals() : ClientOnSim(chipConfig(GetParam().faults)) {}
};

// A refusal names the command, the block's address and the phase, after
// every try.
TEST_P(Refusals, NameTheCommandAddressAndPhase) {
    const auto& p = GetParam();
    auto& c = client();
    ASSERT_TRUE(c.synchronize());
    isp::Result<void> result;
    switch (p.command) {
        case Command::kWriteMemory:
            result = c.writeMemory(p.address, pattern(300, 1));
            break;
        case Command::kReadMemory: {
            auto read = c.readMemory(p.address, 300);
            result = read ? isp::Result<void>() : read.failure();
            break;
        }
        case Command::kGo:
            result = c.go(p.address);
            break;
        default:
            FAIL() << "no such case";
    }
    ASSERT_FALSE(result);
    EXPECT_EQ(Status::kRefused, result.failure().status);
    EXPECT_EQ(p.command, result.failure().command);
    EXPECT_EQ(std::optional<std::uint32_t>(p.address), result.failure().address);
    EXPECT_EQ(p.phase, result.failure().phase);
    const int retries =
        p.command == Command::kGo ? c.options().go.retries : c.options().write.retries;
    EXPECT_EQ(retries + 1, result.failure().attempts);
    EXPECT_TRUE(c.getId());  // and the session goes on
}

stm32sim::FaultConfig refuse(std::uint8_t command) {
    stm32sim::FaultConfig faults;
    faults.refuse_command = command;
    return faults;
}

INSTANTIATE_TEST_SUITE_P(
    Isp, Refusals,
    ::testing::Values(
        FailureCase{"write command", refuse(0x31), Command::kWriteMemory, kFlash, Phase::kCommand},
        FailureCase{"read command", refuse(0x11), Command::kReadMemory, kFlash + 256,
                    Phase::kCommand},
        FailureCase{"go command", refuse(0x21), Command::kGo, kFlash, Phase::kCommand},
        FailureCase{
            "read of unmapped memory", {}, Command::kReadMemory, 0x40000000, Phase::kAddress},
        FailureCase{
            "write outside flash and RAM", {}, Command::kWriteMemory, 0x40000000, Phase::kAddress}),
    CaseName());

class SilentChip : public ClientOnSim {
  protected:
    static stm32sim::FaultConfig silent() {
        stm32sim::FaultConfig faults;
        faults.lose_fraction = 1.0;
        return faults;
    }
    SilentChip() : ClientOnSim(chipConfig(silent())) {}
};

TEST_F(SilentChip, SynchronisationGivesUpAfterItsTriesEachWaitingItsTimeOut) {
    isp::ClientOptions options;
    options.sync = {300ms, 4};
    auto& c = client(options);
    const auto result = c.synchronize();
    ASSERT_FALSE(result);
    EXPECT_EQ(Status::kTimeout, result.failure().status);
    EXPECT_EQ(Command::kSynchronize, result.failure().command);
    EXPECT_EQ(5, result.failure().attempts);
    EXPECT_EQ(Bytes(5, 0x7F), link->sent());
    EXPECT_EQ(1500ms, clock.elapsed());
}

TEST_F(SilentChip, EachCommandWaitsItsOwnTimeOut) {
    isp::ClientOptions options;
    options.query = {700ms, 1};
    options.sync.timeout = 300ms;
    options.massErase = {45s, 0};
    auto& c = client(options);
    const auto id = c.getId();
    ASSERT_FALSE(id);
    EXPECT_EQ(Status::kTimeout, id.failure().status);
    EXPECT_EQ(Command::kGetId, id.failure().command);
    // Two tries, and between them the realignment: a quiet spell and four
    // unanswered probes, each a synchronisation time-out.
    EXPECT_EQ(700ms + 5 * 300ms + 700ms, clock.elapsed());
    const auto erase = c.eraseAll();
    ASSERT_FALSE(erase);
    EXPECT_EQ(Command::kErase, erase.failure().command);
    EXPECT_EQ(2900ms + 45s, clock.elapsed());
}

// Many seeds, so the faults fall at every step of the exchanges: the
// synchronisation, command, address, data block, erase list, and the
// realignment's own bytes. (Noise is tested with scripted bytes below: a
// random noise byte that happens to be 0x79 is an ACK to any client.)
TEST(FlakyChip, RetriesCarryAWholeImageThroughRefusalsLostAndSplitReplies) {
    stm32sim::FaultConfig faults;
    faults.refuse_fraction = 0.05;
    faults.lose_fraction = 0.05;
    faults.split_pieces = 3;
    faults.split_gap = 5ms;
    isp::ClientOptions options;
    options.sync.retries = 20;
    for (auto* limits : {&options.read, &options.write, &options.erase, &options.query}) {
        limits->retries = 8;
    }
    const Bytes data = pattern(8 * 1024, 5);
    const std::vector<std::uint8_t> pages{0, 1, 2, 3, 4, 5, 6, 7};
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        auto config = chipConfig(faults);
        config.seed = seed;
        stm32sim::Target chip(config);
        ManualClock clock;
        isp::Client c(std::make_unique<SimLink>(chip, clock), options, &clock);
        ASSERT_TRUE(c.synchronize());
        ASSERT_TRUE(c.erasePages(pages));
        const auto written = c.writeMemory(kFlash, data);
        ASSERT_TRUE(written) << static_cast<int>(written.failure().status) << " at "
                             << *written.failure().address;
        const auto back = c.readMemory(kFlash, data.size());
        ASSERT_TRUE(back);
        EXPECT_EQ(data, back.value());
        const Bytes flash = chip.flash();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
    }
}

class Scripted : public ::testing::Test {
  protected:
    ManualClock clock;
    ScriptLink* link = nullptr;
    isp::Client make(isp::ClientOptions options = {}) {
        auto owned = std::make_unique<ScriptLink>(clock);
        link = owned.get();
        return isp::Client(std::move(owned), options, &clock);
    }
};

TEST_F(Scripted, NoiseBeforeAReplyIsSkippedAndNothingAfterItIsTaken) {
    auto c = make();
    link->queue({0x00, 0x79, 0x55, 0x79, 0xAA, 0x79, 0x10, 0x20, 0x30, 0x40});
    link->queue({0x79});  // the next exchange's
    const auto data = c.readMemory(kFlash, 4);
    ASSERT_TRUE(data);
    EXPECT_EQ((Bytes{0x10, 0x20, 0x30, 0x40}), data.value());
    EXPECT_EQ(1u, link->unread());
}

TEST_F(Scripted, ExtendedEraseSendsPageListsOfTheRequestSizeAndSpecialCodes) {
    isp::ClientOptions options;
    options.erasePagesPerRequest = 2;
    auto c = make(options);
    link->queue(Bytes(6, 0x79));
    const std::uint16_t pages[] = {1, 2, 0x102};
    std::vector<std::size_t> progress;
    c.setProgress([&](std::size_t done, std::size_t total) {
        EXPECT_EQ(3u, total);
        progress.push_back(done);
    });
    ASSERT_TRUE(c.extendedErasePages(pages));
    EXPECT_EQ((std::vector<std::size_t>{2, 3}), progress);
    EXPECT_EQ((Bytes{0x44, 0xBB, 0x00, 0x01, 0x00, 0x01, 0x00, 0x02, 0x02,  // pages 1, 2
                     0x44, 0xBB, 0x00, 0x00, 0x01, 0x02, 0x03}),            // page 0x102
              link->sent());
    ASSERT_TRUE(c.extendedErase(isp::ExtendedEraseCode::kBank1));
    EXPECT_EQ((Bytes{0x44, 0xBB, 0xFF, 0xFE, 0x01}),
              Bytes(link->sent().end() - 5, link->sent().end()));
}

TEST_F(Scripted, AReplyThatEndsWrongIsABadReplyNamingItsCommand) {
    isp::ClientOptions options;
    options.query.retries = 0;
    auto c = make(options);
    link->queue({0x79, 0x01, 0x04, 0x10, 0x00});  // Get ID not closed by ACK
    const auto id = c.getId();
    ASSERT_FALSE(id);
    EXPECT_EQ(Status::kBadReply, id.failure().status);
    EXPECT_EQ(Command::kGetId, id.failure().command);
}

}  // namespace
}  // namespace isp_test
