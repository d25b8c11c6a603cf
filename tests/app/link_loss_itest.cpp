// The link to the board vanishes mid-programming, as when the RFC 2217 server
// closes or the pseudo-terminal's far end goes away: the operator is told at
// once, every control shows a closed port, quitting still works, and the
// board connects again once it is back.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "ChipLoad.h"
#include "app_harness.h"
#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"
#include "temp_files.h"

namespace {

using apptest::AppHarness;
using namespace std::chrono_literals;

constexpr int kCom = 4;
const char kIdentified[] = "成功获取芯片全球唯一标识码！！！";

// A simulated F103 at the real line rate, so that programming takes seconds.
class Board {
  public:
    explicit Board(bool network) {
        stm32sim::TargetConfig config;
        config.product = *stm32sim::find_product("f103c8");
        config.timing = stm32sim::Timing::real;
        if (network) {
            target_ = std::make_unique<stm32sim::Target>(config);
            rfc2217_ = std::make_unique<stm32sim::Rfc2217Server>(*target_);
            rfc2217_->start("127.0.0.1", 0);
            apptest::MapPort(kCom, "rfc2217://127.0.0.1:" + std::to_string(rfc2217_->port()));
        } else {
            config.boot0 = stm32sim::Boot0Polarity::tied_high;
            config.start = stm32sim::StartMode::bootloader;
            config.resync_after_idle = 100ms;
            target_ = std::make_unique<stm32sim::Target>(config);
            pty_ = std::make_unique<stm32sim::PtyServer>(*target_);
            pty_->start();
            apptest::MapPort(kCom, pty_->slave_path());
        }
    }
    ~Board() {
        if (rfc2217_) {
            rfc2217_->stop();
        }
        if (pty_) {
            pty_->stop();
        }
    }
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

  private:
    std::unique_ptr<stm32sim::Target> target_;
    std::unique_ptr<stm32sim::Rfc2217Server> rfc2217_;
    std::unique_ptr<stm32sim::PtyServer> pty_;
};

class LinkLoss : public ::testing::TestWithParam<bool> {
  protected:
    apptest::TempDir dir;
    std::unique_ptr<Board> board = std::make_unique<Board>(GetParam());
    AppHarness app;
    int main = app.panels().main;
    int ops = app.panels().ops;

    void connect() {
        app.commit(main, PANEL_COMPORT, kCom);
        app.click(main, PANEL_CONNECT);
        ASSERT_TRUE(app.waitForStatus(kIdentified, 10s)) << app.status();
    }
    int progress() { return app.ui().intValue(ops, TABOPS_PROGRESS); }
};

TEST_P(LinkLoss, MidProgrammingEndsInAMessageAndTheBoardConnectsAgain) {
    app.ui().setValue(app.panels().isp, TABISP_FILETYPE, 1);
    app.ui().queueFileAnswer(dir.write("image.bin", std::string(24 * 1024, '\x5A')));
    app.click(app.panels().isp, TABISP_LOADFILE);
    connect();
    app.click(ops, TABOPS_WRITE);
    ASSERT_TRUE(app.ui().waitUntil([&] { return progress() > 0; }, 10s));
    app.ui().clearPopups();
    board.reset();

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(app.ui().waitUntil(
        [&] { return app.status().starts_with("连接已断开：") && !app.popupTexts().empty(); }, 10s))
        << app.status();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ("警告|" + app.status(), app.popupTexts().front());
    EXPECT_EQ("连接设备", app.ui().label(main, PANEL_CONNECT));
    EXPECT_EQ(0, app.ui().intValue(main, PANEL_OPENLED));
    EXPECT_EQ(0, app.ui().intValue(main, PANEL_OPENCLOSE));
    EXPECT_EQ(0, progress());

    board = std::make_unique<Board>(GetParam());
    connect();

    app.ui().queuePopupAnswer(1);
    app.ui().queuePopupAnswer(1);
    app.pressQuit();
    EXPECT_TRUE(app.waitForExit(10s));
    EXPECT_EQ(0, app.exitCode());
}

INSTANTIATE_TEST_SUITE_P(Transports, LinkLoss, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "Rfc2217" : "Pty"; });

}  // namespace
