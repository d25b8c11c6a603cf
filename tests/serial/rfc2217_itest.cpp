// The same port operations over an rfc2217:// device: ser2net serves a pseudo-terminal over
// RFC 2217 on the loopback interface.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <port_map.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "pty_link.h"
#include "serial_engine.h"

extern char** environ;

namespace {

constexpr int kPort = 9;
constexpr char kSer2net[] = "/usr/sbin/ser2net";

int FreeLoopbackPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    close(s);
    return ntohs(address.sin_port);
}

bool Accepts(int tcpPort) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(tcpPort));
    const bool ok = connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(s);
    return ok;
}

// ser2net in the foreground, serving one device on one loopback port.
class Ser2net {
  public:
    Ser2net(const std::string& device, int tcpPort) {
        config_ = "/tmp/tidecomm-ser2net-" + std::to_string(getpid()) + ".yaml";
        std::ofstream(config_) << "connection: &tidecomm\n"
                               << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << tcpPort << "\n"
                               << "  connector: serialdev," << device << ",115200n81,local\n";
        std::string configArg = config_;
        char* argv[] = {const_cast<char*>(kSer2net), const_cast<char*>("-n"),
                        const_cast<char*>("-c"), configArg.data(), nullptr};
        if (posix_spawn(&pid_, kSer2net, nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
    }
    ~Ser2net() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        unlink(config_.c_str());
    }
    bool running() const { return pid_ > 0; }

  private:
    std::string config_;
    pid_t pid_ = -1;
};

std::mutex framesMutex;
std::string received;

int TakeFrame(int port) {
    char* data = nullptr;
    int length = 0;
    if (TideComm_InputBuffer(port, &data, &length) == 0) {
        std::lock_guard lock(framesMutex);
        received.append(data, static_cast<std::size_t>(length));
    }
    TideComm_ClearInBufferCount(port);
    return 0;
}

std::string Received() {
    std::lock_guard lock(framesMutex);
    return received;
}

TEST(Rfc2217Test, BytesGoBothWaysThroughANetworkPort) {
    if (access(kSer2net, X_OK) != 0) {
        GTEST_SKIP() << "ser2net is not installed";
    }
    serialtest::EngineThread engine;
    serialtest::PtyLink pty(kPort);
    const int tcpPort = FreeLoopbackPort();
    Ser2net server(pty.slavePath(), tcpPort);
    ASSERT_TRUE(server.running());
    ASSERT_TRUE(engine.frontEnd().waitUntil([&] { return Accepts(tcpPort); }));
    chipload::portmap::assign(kPort, "rfc2217://127.0.0.1:" + std::to_string(tcpPort));

    TideComm_Init();
    TideComm_SetReadIntervalTimeout(kPort, 10);
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 2, 8, 0, 512, 512, 1), 0)
        << TideComm_GetError(kPort);
    EXPECT_EQ(TideComm_SetDTREnable(kPort, 1), 0);

    ASSERT_EQ(TideComm_Output(kPort, "to the far end"), 0);
    EXPECT_EQ(pty.read(14), "to the far end");
    pty.write(
        std::string("\x79\xff\x00"
                    "back",
                    7));
    EXPECT_TRUE(engine.frontEnd().waitUntil([] { return Received().size() >= 7; }));
    EXPECT_EQ(Received(), std::string("\x79\xff\x00"
                                      "back",
                                      7))
        << "0xFF passes unescaped";
    EXPECT_EQ(TideComm_Close(kPort), 0);
    chipload::portmap::clearAssignments();
}

}  // namespace
