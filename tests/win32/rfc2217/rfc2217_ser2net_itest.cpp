// The RFC 2217 backend through the Windows API against ser2net, a server
// nobody here wrote, serving a pseudo-terminal on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "com_handle.h"

extern char** environ;

namespace chipload::rfc2217::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kCom = 8;

std::string findSer2net() {
    std::string path = "/usr/sbin:/usr/bin:/sbin:/bin";
    if (const char* env = std::getenv("PATH")) {
        path = std::string(env) + ":" + path;
    }
    std::istringstream dirs(path);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = dir + "/ser2net";
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

// A port below the kernel's ephemeral range, so that no outgoing connection
// of a test running beside this one takes it between the check and ser2net's
// bind.
int freeLoopbackPort() {
    std::random_device seed;
    std::uniform_int_distribution<int> pick(20000, 32000);
    for (;;) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(pick(seed)));
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) {
            return ntohs(address.sin_port);
        }
    }
}

// True once something listens on 127.0.0.1:port, read from the kernel's
// table so that ser2net sees no probing connection.
bool listening(int port) {
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

class Ser2net : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string ser2net = findSer2net();
        ASSERT_FALSE(ser2net.empty()) << "ser2net is not installed (Debian package ser2net)";

        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        const std::string slaveName = ::ptsname(master_);
        // Held open so that tcgetattr sees the line and the master never
        // reads EOF between ser2net's opens.
        slave_ = ::open(slaveName.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(slave_, 0);
        termios raw{};
        ::tcgetattr(slave_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave_, TCSANOW, &raw);

        dir_ = std::filesystem::temp_directory_path() /
               ("rfc2217-ser2net-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        // A port taken between the check and ser2net's bind shows as no
        // listener; a fresh port then is the cure.
        bool started = false;
        for (int attempt = 0; attempt < 3 && !started; ++attempt) {
            started = startSer2net(ser2net, slaveName);
        }
        ASSERT_TRUE(started) << "ser2net is not listening:\n" << logText();
        port.emplace(kCom, "rfc2217://127.0.0.1:" + std::to_string(port_));
        ASSERT_TRUE(port->valid()) << "open failed with " << port->openError() << "\n" << logText();
    }

    bool startSer2net(const std::string& ser2net, const std::string& slaveName) {
        port_ = freeLoopbackPort();
        const auto config = dir_ / "ser2net.yaml";
        std::ofstream(config) << "connection: &pty\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port_ << "\n"
                              << "  connector: serialdev," << slaveName << ",115200n81,local\n";

        const std::string log = dir_ / "ser2net.log";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const std::string configPath = config;
        const char* argv[] = {ser2net.c_str(), "-n", "-d", "-c", configPath.c_str(), nullptr};
        const int spawned = ::posix_spawn(&pid_, ser2net.c_str(), &actions, nullptr,
                                          const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            pid_ = -1;
            return false;
        }
        const auto deadline = Clock::now() + 3s;
        while (!listening(port_)) {
            if (::waitpid(pid_, nullptr, WNOHANG) != 0) {
                pid_ = -1;
                return false;
            }
            if (Clock::now() > deadline) {
                stopSer2net();
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    void stopSer2net() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

    void TearDown() override {
        port.reset();
        stopSer2net();
        if (slave_ >= 0) {
            ::close(slave_);
        }
        if (master_ >= 0) {
            ::close(master_);
        }
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    std::string logText() const {
        std::ifstream in(dir_ / "ser2net.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // What the line side of the pseudo-terminal receives, count bytes or
    // whatever came before a quiet second.
    std::vector<BYTE> lineReceives(std::size_t count) {
        std::vector<BYTE> got;
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                break;
            }
            BYTE buffer[1024];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    void lineSends(const std::vector<BYTE>& data) {
        ASSERT_EQ(::write(master_, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    }

    termios lineSettings() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

    std::optional<ComHandle> port;

  private:
    int master_ = -1;
    int slave_ = -1;
    int port_ = 0;
    pid_t pid_ = -1;
    std::filesystem::path dir_;
};

bool ptyHoldsSevenDataBits() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    bool held = false;
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
        const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
            t.c_cflag = (t.c_cflag & ~tcflag_t{CSIZE}) | CS7;
            held = ::tcsetattr(slave, TCSANOW, &t) == 0 && ::tcgetattr(slave, &t) == 0 &&
                   (t.c_cflag & CSIZE) == CS7;
        }
        ::close(slave);
    }
    ::close(master);
    return held;
}

std::vector<BYTE> everyByteTwiceAndIacRuns() {
    std::vector<BYTE> data;
    for (int round = 0; round < 2; ++round) {
        for (int value = 0; value < 256; ++value) {
            data.push_back(static_cast<BYTE>(value));
        }
    }
    data.insert(data.end(), {0xFF, 0xFF, 0xFF, 0xFA, 0xFF, 0xF0, 0x0D, 0x00, 0x0D, 0x0A});
    return data;
}

TEST_F(Ser2net, BytesPassBothWaysUnchanged) {
    const std::vector<BYTE> data = everyByteTwiceAndIacRuns();

    ASSERT_EQ(port->write(data), ERROR_SUCCESS);
    EXPECT_EQ(lineReceives(data.size()), data);

    lineSends(data);
    EXPECT_EQ(port->read(data.size(), 1000), data);

    // Line functions that a pseudo-terminal lacks are accepted and leave the
    // stream intact.
    EXPECT_TRUE(EscapeCommFunction(port->get(), CLRDTR));
    EXPECT_TRUE(EscapeCommFunction(port->get(), SETRTS));
    DWORD status = 0xFFFFFFFF;
    EXPECT_TRUE(GetCommModemStatus(port->get(), &status));
    lineSends({0xFF, 0x42});
    EXPECT_EQ(port->read(2, 1000), (std::vector<BYTE>{0xFF, 0x42}));
    ASSERT_EQ(port->write({0x42, 0xFF}), ERROR_SUCCESS);
    EXPECT_EQ(lineReceives(2), (std::vector<BYTE>{0x42, 0xFF}));
}

TEST_F(Ser2net, SetCommStateReachesTheLine) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port->get(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 115200u);  // as ser2net was configured
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);

    // A pseudo-terminal keeps the rate; what else it keeps depends on the
    // kernel (some refuse anything but 8 data bits without parity), so the
    // character size is checked only where a pseudo-terminal can hold it.
    dcb.BaudRate = 57600;
    ASSERT_TRUE(SetCommState(port->get(), &dcb)) << GetLastError();
    termios line = lineSettings();
    EXPECT_EQ(::cfgetospeed(&line), speed_t{B57600});
    EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t{CS8});

    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(port->get(), &dcb)) << GetLastError();
    line = lineSettings();
    EXPECT_EQ(::cfgetospeed(&line), speed_t{B9600});
    if (ptyHoldsSevenDataBits()) {
        EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t{CS7});
    }

    ASSERT_TRUE(GetCommState(port->get(), &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
}

}  // namespace
}  // namespace chipload::rfc2217::testing
