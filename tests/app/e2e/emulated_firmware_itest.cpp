// A user's whole path with a board that does not exist: chipload-sim runs
// what is flashed on qemu-system-arm, the command line flashes an example
// program and starts it (at the flash base, or where a program linked
// elsewhere begins), and the window's terminal, opened on the same port,
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

#ifdef CHIPLOAD_FIRMWARE_DIR
const std::string kFirmwareDir = CHIPLOAD_FIRMWARE_DIR;
#else
const std::string kFirmwareDir;  // no example programs: the tests skip
#endif

class EmulatedFirmware : public Session {
  protected:
    void SetUp() override {
        if (kFirmwareDir.empty()) {
            GTEST_SKIP() << "arm-none-eabi-gcc was not found when the build was configured: "
                            "no example programs";
        }
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
    }

    void TearDown() override {
        Session::TearDown();
        if (sim) {
            sim->signal(SIGTERM);
            EXPECT_EQ(0, sim->wait());
        }
    }

    // chipload flash PROGRAM.hex --go, as a user types it: the program
    // starts where the image begins.
    void flashAndGo(const std::string& program, const std::string& start) {
        test_support::ChildProgram flash(
            (files.path() / program).string(),
            {CHIPLOAD_EXECUTABLE, "flash", kFirmwareDir + "/" + program + ".hex", "--go", "--port",
             port, "--quiet"});
        ASSERT_EQ(0, flash.wait()) << flash.err() << sim->err();
        EXPECT_NE(flash.out().find("started at " + start), std::string::npos) << flash.out();
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
    // At the flash base, and behind a boot loader of its own.
    for (const auto& [program, start] :
         {std::pair{"hello", "0x08000000"}, std::pair{"hello_at_4k", "0x08001000"}}) {
        SCOPED_TRACE(program);
        flashAndGo(program, start);
        openTerminal();
        EXPECT_TRUE(receiveBoxShows("Hello from ChipLoad!")) << sim->err();
        app.reset();  // the port is free for the next flash
    }
}

TEST_F(EmulatedFirmware, TheEchoProgramSendsBackWhatTheTerminalSends) {
    flashAndGo("echo", "0x08000000");
    openTerminal();
    ASSERT_TRUE(receiveBoxShows("Echo ready")) << sim->err();
    ui().setValue(term, TABTERM_SENDHEX, 0);
    ui().setValue(term, TABTERM_SEND, std::string("ping 42"));
    app->click(term, TABTERM_SENDBUTTON);
    EXPECT_TRUE(receiveBoxShows("ping 42")) << sim->err();
}

}  // namespace
}  // namespace e2e
