// The fault campaign's operator after a board that drops the link: a hang-up
// has already disconnected the window, so the operator's closing disconnect
// must not press the button, which now reads "connect". Pressed, it opened a
// connection to the failing board, whose going then raised a second hang-up
// report that landed on the next step and failed the fresh board's connect.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ChipLoad.h"
#include "app_harness.h"
#include "campaign_board.h"
#include "campaign_session.h"
#include "temp_files.h"

namespace app_test {
namespace {

using namespace std::chrono_literals;

constexpr int kCom = 6;
const char kConnectLabel[] = "连接设备";
const char kHangUpFailure[] = "program: 连接已断开：";

TEST(CampaignOperator, ASessionEndedByAHangUpLeavesThePortClosedAndAFreshBoardConnects) {
    apptest::TempDir files;
    apptest::AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, kCom);
    campaign::Operator operatorAtWindow(app, 30s, (files.path() / "image.bin").string());

    campaign::BoardSpec dropping;
    // Past the identification, inside programming and its read-back.
    dropping.faults.drop_after_bytes = 600;
    campaign::SessionPlan plan;
    plan.image.assign(4096, 0x5A);
    campaign::SessionResult result;
    {
        campaign::Board board(kCom, dropping);
        result = operatorAtWindow.run(board, plan);
        EXPECT_EQ(kConnectLabel, app.ui().label(main, PANEL_CONNECT));
        EXPECT_EQ(0, app.ui().intValue(main, PANEL_OPENLED));
    }
    ASSERT_TRUE(result.failure.starts_with(kHangUpFailure)) << result.failure;

    campaign::Board fresh(kCom, campaign::BoardSpec{});
    EXPECT_TRUE(operatorAtWindow.connectWorks()) << app.status();
    EXPECT_EQ(kConnectLabel, app.ui().label(main, PANEL_CONNECT));
    EXPECT_EQ(0, app.ui().intValue(main, PANEL_OPENLED));
}

}  // namespace
}  // namespace app_test
