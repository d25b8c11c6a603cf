// The RFC 2217 and pseudo-terminal servers with real sockets and terminals.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "posix_io.hpp"
#include "sim_client.hpp"
#include "sim_wire.hpp"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "telnet.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;
using namespace telnet;

TEST(Rfc2217Server, ServesABootloaderSessionAndClientsInTurn) {
    Target target{TargetConfig{}};
    Rfc2217Server server(target);
    server.start("127.0.0.1", 0);
    ASSERT_NE(server.port(), 0);
    {
        Rfc2217Client client(server.port());
        ASSERT_TRUE(client.connected());
        client.reset_into_bootloader();
        client.send(Bytes{0x7F} + command(0x02));
        EXPECT_EQ(client.receive(6).data, (Bytes{ack, ack, 0x01, 0x04, 0x10, ack}));
        client.send(command(0x31) + address_frame(flash_base) + block({0xFF, 0x00, 0xFF, 0x12}));
        EXPECT_EQ(client.receive(3).data, (Bytes{ack, ack, ack}));
    }
    Rfc2217Client second(server.port());
    ASSERT_TRUE(second.connected());
    second.reset_into_bootloader();
    second.send(Bytes{0x7F} + command(0x11) + address_frame(flash_base) + Bytes{0x03, 0xFC});
    EXPECT_EQ(second.receive(8).data, (Bytes{ack, ack, ack, ack, 0xFF, 0x00, 0xFF, 0x12}))
        << "the same chip, and 0xFF arrives once after IAC doubling";
    EXPECT_EQ(server.clients_served(), 2u);
    server.stop();
}

TEST(Rfc2217Server, AClosedClientDropsTheLinesAndTheApplicationRuns) {
    Target target{TargetConfig{}};
    Rfc2217Server server(target);
    server.start("127.0.0.1", 0);
    {
        Rfc2217Client client(server.port());
        client.reset_into_bootloader();
        client.send(Bytes{0x7F});
        ASSERT_EQ(client.receive(1).data, Bytes{ack});
        client.control(8);  // held in reset when the port closes
    }
    for (int i = 0; i < 200 && target.mode() != Mode::application; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(target.mode(), Mode::application);
}

TEST(Rfc2217Server, DropFaultClosesTheConnection) {
    TargetConfig config;
    config.faults.drop_after_bytes = 1;
    Target target(config);
    Rfc2217Server server(target);
    server.start("127.0.0.1", 0);
    Rfc2217Client client(server.port());
    client.reset_into_bootloader();
    client.send(Bytes{0x7F} + command(0x01));
    const Received got = client.receive(6);
    EXPECT_EQ(got.data, Bytes{ack});
    EXPECT_TRUE(got.closed);
}

TEST(Rfc2217Server, OutputCausedFromAnotherThreadIsSentPromptly) {
    TargetConfig config;
    config.faults.stray_byte_after_reset = 0xA5;
    Target target(config);
    Rfc2217Server server(target);
    server.start("127.0.0.1", 0);
    Rfc2217Client client(server.port());
    client.send(Bytes{});
    std::this_thread::sleep_for(50ms);  // let the server take the client
    target.reset();
    EXPECT_EQ(client.receive(1, 1000ms).data, Bytes{0xA5});
}

TEST(Rfc2217Server, BindFailureIsReported) {
    Target target{TargetConfig{}};
    Rfc2217Server first(target);
    first.start("127.0.0.1", 0);
    Rfc2217Server second(target);
    EXPECT_THROW(second.start("127.0.0.1", first.port()), std::system_error);
}

int open_raw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    return fd;
}

TargetConfig pty_config() {
    TargetConfig config = bootloader_config();
    config.resync_after_idle = 100ms;
    return config;
}

TEST(PtyServer, ServesTheBootloaderAndKeepsTheLinkToItsSlave) {
    Target target(pty_config());
    PtyServer server(target);
    const std::string link =
        (std::filesystem::temp_directory_path() / ("chipload-sim-" + std::to_string(::getpid())))
            .string();
    server.start(link);
    EXPECT_EQ(std::filesystem::read_symlink(link), server.slave_path());
    {
        UniqueFd tty(open_raw(link));
        ASSERT_TRUE(tty);
        EXPECT_TRUE(write_all(tty.get(), Bytes{0x7F} + command(0x01)));
        EXPECT_EQ(read_from(tty.get(), 6, nullptr).data, (Bytes{ack, ack, 0x22, 0x00, 0x00, ack}));
    }
    UniqueFd again(open_raw(server.slave_path()));
    std::this_thread::sleep_for(150ms);
    EXPECT_TRUE(write_all(again.get(), Bytes{0x7F}));
    EXPECT_EQ(read_from(again.get(), 1, nullptr).data, Bytes{ack}) << "a new session after silence";
    server.stop();
    struct stat info {};
    EXPECT_NE(::lstat(link.c_str(), &info), 0) << "the link goes with the server";
}

TEST(PtyServer, DropFaultHangsUpAndANewTerminalTakesOver) {
    TargetConfig config = pty_config();
    config.faults.drop_after_bytes = 1;
    Target target(config);
    PtyServer server(target);
    server.start();
    const std::string first_path = server.slave_path();
    UniqueFd tty(open_raw(first_path));
    EXPECT_TRUE(write_all(tty.get(), Bytes{0x7F} + command(0x01)));
    const Received got = read_from(tty.get(), 6, nullptr);
    EXPECT_EQ(got.data, Bytes{ack});
    EXPECT_TRUE(got.closed) << "readers of the old terminal see the hang-up";
    const std::string second_path = server.slave_path();
    EXPECT_FALSE(second_path.empty());
    UniqueFd fresh(open_raw(second_path));
    ASSERT_TRUE(fresh);
    EXPECT_TRUE(write_all(fresh.get(), command(0x01)));
    EXPECT_EQ(read_from(fresh.get(), 5, nullptr).data, (Bytes{ack, 0x22, 0x00, 0x00, ack}));
}

}  // namespace
}  // namespace stm32sim::test
