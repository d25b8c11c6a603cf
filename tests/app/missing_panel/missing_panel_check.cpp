// Built into a folder without ChipLoad.uir, so the panel cannot be found.
#include <gtest/gtest.h>

#include "asynctimer.h"
#include "panel_handles.h"
#include "rte_headless.h"
#include "startup.h"

namespace {

TEST(MissingPanel, StartUpFailsBeforeAnyTimerOrWorkerExists) {
    rte::Headless::Install();
    char commandLine[] = "";
    EXPECT_EQ(-1, WinMain(nullptr, nullptr, commandLine, 1));
    EXPECT_NE(std::string::npos, std::string(RTE_GetLastErrorText()).find("ChipLoad.uir"));
    EXPECT_EQ(-1, TimerID1);
    EXPECT_EQ(-1, threadID);
    EXPECT_EQ(-1, threadID_checkblank);
    // No timer was ever made: the first one now gets the first ID.
    const int first = NewAsyncTimer(1.0, -1, 0, nullptr, nullptr);
    EXPECT_EQ(1, first);
    DiscardAsyncTimer(first);
    RTE_CloseEngine();
}

}  // namespace
