// The client over the project's serial layer to the simulator's real
// transports: a pseudo-terminal and an RFC 2217 server, several boards at
// once on their own threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "boot_sequence.h"
#include "client.h"
#include "comm_link.h"
#include "port_map.h"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "wait_for.h"

namespace isp_test {
namespace {

using isp::Bytes;
using namespace std::chrono_literals;

constexpr std::uint32_t kFlash = 0x08000000;

Bytes pattern(std::size_t count, unsigned seed) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + seed + (i >> 8));
    }
    return bytes;
}

// A board: the chip and the server that puts it on a port.
struct Board {
    explicit Board(bool overNetwork) : chip(config(overNetwork)) {
        if (overNetwork) {
            network = std::make_unique<stm32sim::Rfc2217Server>(chip);
            network->start("127.0.0.1", 0);
            port = "rfc2217://127.0.0.1:" + std::to_string(network->port());
        } else {
            pty = std::make_unique<stm32sim::PtyServer>(chip);
            pty->start();
            port = pty->slave_path();
        }
    }
    // Over the network the lines reach the chip, so it starts in its
    // application and the client must reset it; a pseudo-terminal has no
    // lines, so that board's BOOT0 is strapped high.
    static stm32sim::TargetConfig config(bool overNetwork) {
        stm32sim::TargetConfig c;
        c.product = *stm32sim::find_product("f103c8");
        if (!overNetwork) {
            c.boot0 = stm32sim::Boot0Polarity::tied_high;
            c.start = stm32sim::StartMode::bootloader;
            c.resync_after_idle = 100ms;
        }
        return c;
    }

    stm32sim::Target chip;
    std::unique_ptr<stm32sim::Rfc2217Server> network;
    std::unique_ptr<stm32sim::PtyServer> pty;
    std::string port;
};

// Everything a flash job does, as the command line would: reset into the
// bootloader, identify, erase, write, read back, start the program.
void flashJob(Board& board, const Bytes& image, std::string* failure) {
    isp::CommOpenError openError;
    auto link = isp::openCommLink(board.port, 115200, &openError);
    if (!link) {
        *failure = "open failed: " + std::to_string(openError.systemError);
        return;
    }
    if (!isp::playSequence(*link, isp::enterBootloaderSequence(isp::Wiring{}),
                           isp::steadyClock())) {
        *failure = "lines";
        return;
    }
    isp::Client client(std::move(link));
    const auto step = [&](bool ok, const char* what) {
        if (!ok && failure->empty()) {
            *failure = what;
        }
        return ok;
    };
    if (!step(client.synchronize().ok(), "sync") || !step(client.getId().ok(), "id") ||
        !step(client.eraseAll().ok(), "erase") ||
        !step(client.writeMemory(kFlash, image).ok(), "write")) {
        return;
    }
    const auto back = client.readMemory(kFlash, image.size());
    if (step(back.ok(), "read") && step(back.value() == image, "read back differs")) {
        step(client.go(kFlash).ok(), "go");
    }
}

class Transports : public ::testing::TestWithParam<bool> {};

TEST_P(Transports, FourBoardsAtOnceEachGetTheirImage) {
    std::vector<std::unique_ptr<Board>> boards;
    std::vector<Bytes> images;
    for (unsigned i = 0; i < 4; ++i) {
        boards.push_back(std::make_unique<Board>(GetParam()));
        images.push_back(pattern(2000 + 300 * i, i));
    }
    std::vector<std::string> failures(boards.size());
    std::vector<std::thread> jobs;
    for (std::size_t i = 0; i < boards.size(); ++i) {
        jobs.emplace_back(flashJob, std::ref(*boards[i]), std::cref(images[i]), &failures[i]);
    }
    for (auto& job : jobs) {
        job.join();
    }
    for (std::size_t i = 0; i < boards.size(); ++i) {
        SCOPED_TRACE(boards[i]->port);
        EXPECT_EQ("", failures[i]);
        const Bytes flash = boards[i]->chip.flash();
        EXPECT_TRUE(std::equal(images[i].begin(), images[i].end(), flash.begin()));
        EXPECT_TRUE(test_support::WaitFor(
            [&] { return boards[i]->chip.mode() == stm32sim::Mode::application; }));
    }
}

INSTANTIATE_TEST_SUITE_P(Isp, Transports, ::testing::Values(false, true), [](const auto& tested) {
    return std::string(tested.param ? "Rfc2217" : "Pty");
});

TEST(CommLink, OpenFailuresSayWhy) {
    isp::CommOpenError error;
    EXPECT_FALSE(isp::openCommLink("/nonexistent/ttyUSB9", 115200, &error));
    EXPECT_EQ(isp::CommOpenError::Kind::kNotFound, error.kind);

    chipload::portmap::clearAssignments();
    Board board(false);
    ASSERT_TRUE(chipload::portmap::assign(7, board.port));
    EXPECT_EQ(board.port, isp::resolvePortName("\\\\.\\com7"));
    EXPECT_EQ("/dev/ttyS0", isp::resolvePortName("/dev/ttyS0"));
    auto first = isp::openCommLink("COM7", 115200, &error);
    ASSERT_TRUE(first);
    EXPECT_FALSE(isp::openCommLink(board.port, 115200, &error));  // one user per device
    EXPECT_EQ(isp::CommOpenError::Kind::kAccessDenied, error.kind);
    chipload::portmap::clearAssignments();
}

TEST(CommLink, ADroppedConnectionFailsTheCommandInsteadOfHanging) {
    Board board(true);
    auto link = isp::openCommLink(board.port, 115200, nullptr);
    ASSERT_TRUE(link);
    ASSERT_TRUE(
        isp::playSequence(*link, isp::enterBootloaderSequence(isp::Wiring{}), isp::steadyClock()));
    isp::Client client(std::move(link));
    ASSERT_TRUE(client.synchronize());
    board.network->stop();
    const auto read = client.readMemory(kFlash, 4096);
    ASSERT_FALSE(read);
    EXPECT_EQ(isp::Status::kLinkFailed, read.failure().status);
}

}  // namespace
}  // namespace isp_test
