// Text boxes written from other threads: every line arrives, in order, and
// resets, empty lines and the first visible line come out right.
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <string>
#include <thread>

#include "qt_test_support.h"
#include "rte.h"
#include "rte_frontend.h"

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

TEST_F(QtFrontEndTest, AReaderScrolledUpStaysPutWhileTheBoxIsRefilled) {
    runUi([&] {
        auto* log = widget<QPlainTextEdit>("MAIN_LOG");
        ASSERT_NE(log, nullptr);
        QScrollBar* bar = log->verticalScrollBar();
        for (int i = 0; i < 200; ++i) {
            InsertTextBoxLine(panel_, MAIN_LOG, -1, ("line " + std::to_string(i)).c_str());
        }
        ASSERT_TRUE(waitFor([&] { return log->blockCount() == 200 && bar->value() > 0; }));
        ASSERT_EQ(bar->value(), bar->maximum()) << "following the end";
        bar->setValue(10);
        // A grown last line and dropped first lines redraw the box whole.
        ReplaceTextBoxLine(panel_, MAIN_LOG, 199, "line 199 grown");
        DeleteTextBoxLines(panel_, MAIN_LOG, 0, 5);
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "new");
        ASSERT_TRUE(waitFor([&] { return lineAt(log, 195) == QStringLiteral("new"); }));
        EXPECT_EQ(log->blockCount(), 196);
        EXPECT_EQ(lineAt(log, 194), QStringLiteral("line 199 grown"));
        EXPECT_EQ(lineAt(log, bar->value()), QStringLiteral("line 10")) << "the line read moved";
        // Back at the end, the box follows again.
        bar->setValue(bar->maximum());
        ReplaceTextBoxLine(panel_, MAIN_LOG, 195, "newer");
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "newest");
        ASSERT_TRUE(waitFor([&] { return lineAt(log, 196) == QStringLiteral("newest"); }));
        EXPECT_EQ(lineAt(log, 195), QStringLiteral("newer"));
        EXPECT_EQ(bar->value(), bar->maximum());
        // A refill that keeps nothing redraws the box whole.
        ResetTextBox(panel_, MAIN_LOG, "other\nlines");
        EXPECT_TRUE(waitFor([&] { return log->toPlainText() == QStringLiteral("other\nlines"); }));
    });
}

TEST_F(QtFrontEndTest, ARefillOfRepeatingLinesKeepsTheLinesItShows) {
    runUi([&] {
        auto* log = widget<QPlainTextEdit>("MAIN_LOG");
        ASSERT_NE(log, nullptr);
        // As a hex dump of numbered records: every record but its first line
        // repeats the one before.
        for (int i = 0; i < 50; ++i) {
            for (const std::string& line : {"record " + std::to_string(i), std::string("tail a"),
                                            std::string("tail b"), std::string("tail c")}) {
                InsertTextBoxLine(panel_, MAIN_LOG, -1, line.c_str());
            }
        }
        ASSERT_TRUE(waitFor([&] { return log->blockCount() == 200; }));
        constexpr int kMark = 7;
        log->document()->findBlockByNumber(150).setUserState(kMark);
        // Dropped up to a repeating line, one line added.
        DeleteTextBoxLines(panel_, MAIN_LOG, 0, 5);
        InsertTextBoxLine(panel_, MAIN_LOG, -1, "record 50");
        ASSERT_TRUE(waitFor([&] { return lineAt(log, 195) == QStringLiteral("record 50"); }));
        EXPECT_EQ(log->blockCount(), 196);
        EXPECT_EQ(lineAt(log, 0), QStringLiteral("tail a"));
        EXPECT_EQ(lineAt(log, 3), QStringLiteral("record 2"));
        EXPECT_EQ(log->document()->findBlockByNumber(145).userState(), kMark)
            << "the kept lines were drawn again";
    });
}

TEST_F(QtFrontEndTest, UpAndDownKeysWalkTheInputHistory) {
    runUi([&] {
        auto* send = widget<QPlainTextEdit>("MAIN_SEND");
        ASSERT_NE(send, nullptr);
        AddCtrlHistory(panel_, MAIN_SEND, "first");
        AddCtrlHistory(panel_, MAIN_SEND, "second");
        send->setFocus();
        QTest::keyClicks(send, "dr");
        const struct {
            Qt::Key key;
            const char* shown;
        } keys[] = {{Qt::Key_Up, "second"},   {Qt::Key_Up, "first"}, {Qt::Key_Up, "first"},
                    {Qt::Key_Down, "second"}, {Qt::Key_Down, "dr"},  {Qt::Key_Down, "dr"}};
        for (const auto& k : keys) {
            QTest::keyClick(send, k.key);
            EXPECT_TRUE(waitFor([&] { return send->toPlainText() == QString::fromUtf8(k.shown); }))
                << k.shown << " / " << send->toPlainText().toStdString();
            char text[32] = {};
            GetCtrlVal(panel_, MAIN_SEND, text, sizeof text);
            EXPECT_STREQ(k.shown, text);
        }
    });
}

}  // namespace
}  // namespace qt_test
