// A connected session for end-to-end tests: the program headless, a simulated
// board on COM3, and the operator's common moves.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app_harness.h"
#include "sim_board.h"
#include "stm32sim/faults.hpp"
#include "temp_files.h"

namespace e2e {

using namespace std::chrono_literals;

inline constexpr int kCom = 3;
inline constexpr char kWarning[] = "告警";
inline constexpr char kNoTarget[] = "目标板未响应，请重新连接设备！！！";
inline constexpr char kWriteDone[] = "   Flash烧写完成！\n可以使用GO命令运行一下！！";
// Generous: sanitizer builds on a shared machine are slow.
inline constexpr auto kLong = 30s;

// "08000010:41 42 ... 00  AB..": the read-back display's line for the 16
// bytes at `address`.
std::string DumpLine(std::uint32_t address, const std::uint8_t* bytes);

class Session : public ::testing::Test {
  protected:
    void TearDown() override;

    // Starts the board (a part name of the simulator) and the program.
    void start(const std::string& product = "f103c8", stm32sim::FaultConfig faults = {},
               apptest::Link link = apptest::Link::kRfc2217, bool readProtected = false,
               std::vector<std::uint32_t> writeProtected = {});
    void start(const stm32sim::Product& product);
    // Presses connect and waits for the identification to be shown.
    void connect();
    // Presses connect only.
    void pressConnect();
    // Loads bytes as a raw binary file.
    void loadImage(const std::vector<std::uint8_t>& image);
    // Programs the loaded image and waits for the completion pop-up.
    void program();

    bool waitForPopup(const std::string& message, std::chrono::milliseconds timeout = kLong);
    bool waitForStatus(const std::string& text, std::chrono::milliseconds timeout = kLong);
    // Pop-ups as "title|message" since the last clearPopups().
    std::vector<std::string> popups() const { return app->popupTexts(); }
    std::string status() const { return app->status(); }
    std::vector<std::string> log() const { return app->log(); }
    // Log lines after the last line equal to `marker`.
    std::vector<std::string> logAfter(const std::string& marker) const;
    // Commands the board handled, "0x43 ... : ACK" lines as it logs them.
    std::vector<std::string> commandTexts() const;
    int ispMode();
    int sysReady();
    bool portOpen();

    stm32sim::Target& target() { return board->target(); }
    // The program, its panels and COM port chosen, once the board is up.
    void startProgram();
    rte::Headless& ui() { return app->ui(); }

    std::unique_ptr<apptest::SimBoard> board;
    std::unique_ptr<apptest::AppHarness> app;
    apptest::TempDir files;
    int main = 0, isp = 0, term = 0, ops = 0;
};

// Deterministic non-blank bytes (never a whole word of 0xFF).
std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed = 1);

}  // namespace e2e
