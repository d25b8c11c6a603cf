// The pieces of the Qt front end that need no window: coalescing model
// changes, translating shortcut markers, and where a control goes when its
// panel is resized.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "change_queue.h"
#include "control_view.h"
#include "mnemonic.h"
#include "rte.h"

namespace {

using rte::Change;
using rte::ChangeKind;

TEST(ChangeQueue, AFloodOfChangesFromManyThreadsCostsOneFlush) {
    std::atomic<int> schedules{0};
    rte_qt::ChangeQueue queue([&] { ++schedules; });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                queue.add({ChangeKind::LinesAppended, 7, 28});
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(schedules, 1);
    const auto batch = queue.take();
    ASSERT_EQ(batch.controls.size(), 1u);
    EXPECT_TRUE(batch.controls[0].lines);
    EXPECT_FALSE(batch.controls[0].state);

    // After a flush the next change asks for another.
    queue.add({ChangeKind::ValueChanged, 7, 4});
    EXPECT_EQ(schedules, 2);
}

TEST(ChangeQueue, SortsChangesIntoWhatMustBeRedrawn) {
    rte_qt::ChangeQueue queue([] {});
    queue.add({ChangeKind::AttributeChanged, 1, 28, ATTR_FIRST_VISIBLE_LINE});
    queue.add({ChangeKind::AttributeChanged, 1, 32, ATTR_DIMMED});
    queue.add({ChangeKind::ValueChanged, 1, 2});
    queue.add({ChangeKind::PanelDisplayed, 1});
    queue.add({ChangeKind::PanelDiscarded, 1});
    queue.add({ChangeKind::AttributeChanged, 1, 28, ATTR_DIMMED});
    const auto batch = queue.take();

    ASSERT_EQ(batch.panelChanges.size(), 2u);
    EXPECT_EQ(batch.panelChanges[0].kind, ChangeKind::PanelDisplayed);
    EXPECT_EQ(batch.panelChanges[1].kind, ChangeKind::PanelDiscarded);
    ASSERT_EQ(batch.controls.size(), 3u);
    // Scrolling alone leaves the control's state alone, and the reverse.
    EXPECT_EQ(batch.controls[0].control, 28);
    EXPECT_TRUE(batch.controls[0].scroll);
    EXPECT_TRUE(batch.controls[0].state);
    EXPECT_FALSE(batch.controls[0].lines);
    EXPECT_TRUE(batch.controls[1].state);
    EXPECT_FALSE(batch.controls[1].scroll);
    // A replaced value may be a text box's whole text.
    EXPECT_TRUE(batch.controls[2].state);
    EXPECT_TRUE(batch.controls[2].lines);

    EXPECT_TRUE(queue.take().controls.empty());
}

TEST(MnemonicLabel, TurnsTheDoubleUnderscoreIntoQtsMarker) {
    using rte_qt::mnemonicLabel;
    EXPECT_EQ(mnemonicLabel(QStringLiteral("退出(__Y)")), QStringLiteral("退出(&Y)"));
    EXPECT_EQ(mnemonicLabel(QStringLiteral("确认擦除(__Y)")), QStringLiteral("确认擦除(&Y)"));
    // A literal ampersand must not become a shortcut.
    EXPECT_EQ(mnemonicLabel(QStringLiteral("R&D __Go")), QStringLiteral("R&&D &Go"));
    // Only the first marker counts; single underscores and a trailing
    // marker stay text.
    EXPECT_EQ(mnemonicLabel(QStringLiteral("__A__B")), QStringLiteral("&A__B"));
    EXPECT_EQ(mnemonicLabel(QStringLiteral("file_name")), QStringLiteral("file_name"));
    EXPECT_EQ(mnemonicLabel(QStringLiteral("end__")), QStringLiteral("end__"));
    EXPECT_EQ(mnemonicLabel(QString()), QString());
}

TEST(FollowedRect, EachEdgeMovesByItsShareOfTheGrowth) {
    const QRect rect(10, 20, 100, 50);
    struct Case {
        rte::Follow follow;
        QSize growth;
        QRect expected;
    } cases[] = {
        {{}, {200, 100}, rect},                           // stays
        {{0, 1, 0, 1}, {200, 100}, {10, 20, 300, 150}},   // stretches
        {{1, 1, 1, 1}, {200, 100}, {210, 120, 100, 50}},  // moves
        {{0, 0, 0, 0.6}, {0, 100}, {10, 20, 100, 110}},   // upper box
        {{0, 0, 0.6, 1}, {0, 100}, {10, 80, 100, 90}},    // lower box
        {{0, 1, 0, 1}, {-60, -30}, {10, 20, 40, 20}},     // shrinks
        {{0, 1, 0, 1}, {-500, -500}, {10, 20, 1, 1}},     // never below 1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rte_qt::followedRect(rect, c.follow, c.growth), c.expected)
            << c.follow.left << " " << c.follow.right << " " << c.follow.top << " "
            << c.follow.bottom;
    }
}

}  // namespace
