// Text boxes written from other threads: every line arrives, in order, and
// resets, empty lines and the first visible line come out right.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include <string>
#include <thread>

#include "qt_test_support.h"
#include "rte.h"

namespace qt_test {
namespace {

QString lineAt(QPlainTextEdit* box, int line) {
    return box->document()->findBlockByNumber(line).text();
}

TEST_F(QtFrontEndTest, LinesAppendedOnWorkerThreadsAllAppearInOrder) {
    runUi([&] {
        auto* log = widget<QPlainTextEdit>("MAIN_LOG");
        ASSERT_NE(log, nullptr);
        constexpr int kLines = 20000;
        std::thread worker([&] {
            for (int i = 0; i < kLines; ++i) {
                InsertTextBoxLine(panel_, MAIN_LOG, -1, ("行 " + std::to_string(i)).c_str());
            }
        });
        worker.join();
        ASSERT_TRUE(waitFor([&] { return log->blockCount() == kLines; }))
            << log->blockCount() << " lines shown";
        EXPECT_EQ(lineAt(log, 0), QStringLiteral("行 0"));
        EXPECT_EQ(lineAt(log, kLines - 1), QStringLiteral("行 19999"));
        // The window followed the end while it was there.
        EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());

        // The program scrolls: to the top, then past the end shows the end.
        SetCtrlAttribute(panel_, MAIN_LOG, ATTR_FIRST_VISIBLE_LINE, 0);
        EXPECT_TRUE(waitFor([&] { return log->verticalScrollBar()->value() == 0; }));
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "scrolled away");
        EXPECT_TRUE(waitFor([&] { return log->blockCount() == kLines + 1; }));
        EXPECT_EQ(log->verticalScrollBar()->value(), 0);
        SetCtrlAttribute(panel_, MAIN_LOG, ATTR_FIRST_VISIBLE_LINE, kLines + 1);
        EXPECT_TRUE(waitFor([&] {
            return log->verticalScrollBar()->value() == log->verticalScrollBar()->maximum();
        }));

        ResetTextBox(panel_, MAIN_LOG, "");
        EXPECT_TRUE(waitFor([&] { return log->toPlainText().isEmpty(); }));
    });
}

TEST_F(QtFrontEndTest, EmptyLinesResetsAndInsertionsShowAsInTheModel) {
    runUi([&] {
        auto* log = widget<QPlainTextEdit>("MAIN_LOG");
        ASSERT_NE(log, nullptr);
        // An empty first line is a line: the next one goes below it.
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "");
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "second");
        EXPECT_TRUE(waitFor([&] { return log->toPlainText() == QStringLiteral("\nsecond"); }))
            << log->toPlainText().toStdString();

        InsertTextBoxLine(panel_, MAIN_LOG, 0, "first");
        EXPECT_TRUE(waitFor([&] {
            return log->toPlainText() == QStringLiteral("first\n\nsecond");
        })) << log->toPlainText().toStdString();

        ResetTextBox(panel_, MAIN_LOG, "a\nb");
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "c");
        EXPECT_TRUE(waitFor([&] { return log->toPlainText() == QStringLiteral("a\nb\nc"); }))
            << log->toPlainText().toStdString();

        SetCtrlVal(panel_, MAIN_SEND, "from the program");
        auto* send = widget<QPlainTextEdit>("MAIN_SEND");
        EXPECT_TRUE(
            waitFor([&] { return send->toPlainText() == QStringLiteral("from the program"); }));
    });
}

}  // namespace
}  // namespace qt_test
