// A user's whole path with a board that does not exist: chipload-sim runs
// what is flashed on qemu-system-arm, the command line flashes an example
// program and starts it, and the window's terminal, opened on the same port,
// shows what the program prints and carries what the operator sends.
// Skipped where the emulator or the ARM toolchain (the example programs) is
// missing.
#include <signal.h>

#include "ChipLoad.h"
#include "child_program.h"
#include "e2e_session.h"
#include "stm32sim/emulator.hpp"
#include "wait_for.h"

namespace e2e {
namespace {

class EmulatedFirmware : public Session {
  protected:
    void SetUp() override {
#ifndef CHIPLOAD_FIRMWARE_DIR
        GTEST_SKIP() << "arm-none-eabi-gcc was not found when the build was configured: "
                        "no example programs";
#else
        if (!stm32sim::find_emulator()) {
            GTEST_SKIP() << "qemu-system-arm is not installed (Debian package qemu-system-arm)";
        }
        sim = std::make_unique<test_support::ChildProgram>(
            (files.path() / "sim").string(),
            std::vector<std::string>{CHIPLOAD_SIM_EXECUTABLE, "--rfc2217", "127.0.0.1:0",
                                     "--product", "f100rb", "--timing", "real", "--run", "qemu",
                                     "-v"});
        ASSERT_TRUE(test_support::WaitFor([&] { return !sim->firstLine().empty(); })) << sim->err();
        port = sim->firstLine();
#endif
    }

    void TearDown() override {
        Session::TearDown();
        if (sim) {
            sim->signal(SIGTERM);
            EXPECT_EQ(0, sim->wait());
        }
    }

    // chipload flash PROGRAM.hex --go, as a user types it.
    void flashAndGo(const std::string& program) {
#ifdef CHIPLOAD_FIRMWARE_DIR
        test_support::ChildProgram flash(
            (files.path() / program).string(),
            {CHIPLOAD_EXECUTABLE, "flash",
             std::string(CHIPLOAD_FIRMWARE_DIR) + "/" + program + ".hex", "--go", "--port", port,
             "--quiet"});
        ASSERT_EQ(0, flash.wait()) << flash.err() << sim->err();
        EXPECT_NE(flash.out().find("started at 0x08000000"), std::string::npos) << flash.out();
#endif
    }

    // The window, COM3 on the board's port, its terminal open in text mode.
    void openTerminal() {
        apptest::MapPort(kCom, port);
        startProgram();
        ui().setValue(term, TABTERM_MODE, 0);
        app->click(main, PANEL_OPENCLOSE);
        ASSERT_EQ(1, ui().intValue(main, PANEL_OPENLED)) << status();
    }

    bool receiveBoxShows(const std::string& text) {
        return ui().waitUntil(
            [&] {
                std::string shown;
                for (const auto& line : app->receiveBox()) {
                    shown += line;
                }
                return shown.find(text) != std::string::npos;
            },
            kLong);
    }

    std::unique_ptr<test_support::ChildProgram> sim;
    std::string port;
};

TEST_F(EmulatedFirmware, TheTerminalShowsTheGreetingOfTheFlashedProgram) {
    flashAndGo("hello");
    openTerminal();
    EXPECT_TRUE(receiveBoxShows("Hello from ChipLoad!")) << sim->err();
}

TEST_F(EmulatedFirmware, TheEchoProgramSendsBackWhatTheTerminalSends) {
    flashAndGo("echo");
    openTerminal();
    ASSERT_TRUE(receiveBoxShows("Echo ready")) << sim->err();
    ui().setValue(term, TABTERM_SENDHEX, 0);
    ui().setValue(term, TABTERM_SEND, std::string("ping 42"));
    app->click(term, TABTERM_SENDBUTTON);
    EXPECT_TRUE(receiveBoxShows("ping 42")) << sim->err();
}

}  // namespace
}  // namespace e2e
