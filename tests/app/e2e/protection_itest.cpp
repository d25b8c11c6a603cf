// A read-protected chip at connect: named as read protection with what
// lifting it costs, never sent to the wiring.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "operator_messages.h"

namespace e2e {
namespace {

class Protected : public Session {};

TEST_F(Protected, AReadProtectedChipIsNamedAtConnectNotTheWiring) {
    start("f103c8", {}, apptest::Link::kRfc2217, true);
    pressConnect();
    ASSERT_TRUE(waitForPopup(kReadProtectedText)) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    for (const auto& popup : popups()) {
        EXPECT_EQ(std::string::npos, popup.find("电路并重新复位")) << popup;
        EXPECT_EQ(std::string::npos, popup.find("boot0")) << popup;
    }
    const auto log = this->log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), kReadProtectedText));
    EXPECT_EQ(kReadProtectedText, status());
    EXPECT_TRUE(portOpen());
    EXPECT_TRUE(target().readout_protected()) << "nothing lifted without the operator";
    EXPECT_EQ(0, ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
}

}  // namespace
}  // namespace e2e
