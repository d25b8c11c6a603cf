#include "text_box_view.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cstdint>

namespace rte_qt {

namespace {

// Commits the operator's edits when the focus leaves, as an entry field does.
class Editor final : public QPlainTextEdit {
  public:
    Editor(int panel, int control, QWidget* parent)
        : QPlainTextEdit(parent), panel_(panel), control_(control) {}

    bool edited = false;

  protected:
    // Up on the first line and down on the last walk the input history, as
    // in a shell; anywhere else, or with no entry that way, they move the cursor.
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        if (event->modifiers() == Qt::NoModifier && (key == Qt::Key_Up || key == Qt::Key_Down)) {
            const QTextCursor cursor = textCursor();
            const bool up = key == Qt::Key_Up;
            const bool atEdge = up ? cursor.blockNumber() == 0
                                   : cursor.blockNumber() == document()->blockCount() - 1;
            if (atEdge && rte::UserRecallHistory(panel_, control_, up ? -1 : 1) == 1) {
                edited = true;
                event->accept();
                return;
            }
        }
        QPlainTextEdit::keyPressEvent(event);
    }

    void focusOutEvent(QFocusEvent* event) override {
        if (edited) {
            edited = false;
            rte::PostControlEvent(panel_, control_, EVENT_COMMIT);
        }
        QPlainTextEdit::focusOutEvent(event);
    }

  private:
    int panel_;
    int control_;
};

QString joined(std::vector<std::string>::const_iterator first,
               std::vector<std::string>::const_iterator last) {
    std::size_t bytes = 0;
    for (auto line = first; line != last; ++line) {
        bytes += line->size() + 1;
    }
    std::string text;
    text.reserve(bytes);
    for (auto line = first; line != last; ++line) {
        if (line != first) {
            text += '\n';
        }
        text += *line;
    }
    return QString::fromStdString(text);
}

class TextBoxView final : public ControlView {
  public:
    TextBoxView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), editor_(new Editor(info.panel, info.id, parent)) {
        editor_->setGeometry(info.left, info.top, info.width, info.height);
        editor_->setObjectName(QString::fromStdString(info.constant));
        editor_->setUndoRedoEnabled(false);
        // One block per line keeps the scroll bar counting lines, which is
        // what the first-visible-line attribute speaks of.
        editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
        editor_->setFont(monospaceFont());
        if (info.style == "indicator") {
            editor_->setReadOnly(true);
        } else {
            const int panel = info.panel, id = info.id;
            Editor* editor = editor_;
            QObject::connect(editor_, &QPlainTextEdit::textChanged, editor_, [editor, panel, id] {
                editor->edited = true;
                rte::UserSetValue(panel, id, editor->toPlainText().toStdString());
            });
        }
        setBody(editor_);
        setCaption(captionAbove(info, parent));
    }

    bool syncLines(std::chrono::steady_clock::time_point deadline) override {
        auto delta = rte::ReadTextBox(panel(), control(), generation_,
                                      shownLines_ + (fetched_.size() - nextFetched_));
        if (!delta) {
            return true;
        }
        const QSignalBlocker quiet(editor_);
        generation_ = delta->generation;
        if (delta->reset) {
            fetched_.clear();
            nextFetched_ = 0;
            // The operator's own typing comes back as a reset; keep the cursor.
            if (editor_->toPlainText() == joined(delta->lines.begin(), delta->lines.end())) {
                shownLines_ = delta->lines.size();
                return true;
            }
            if (!patch(delta->lines)) {
                // An operator who scrolled up to read stays where they were
                // while the box is refilled; one at the end keeps following.
                const QScrollBar* bar = editor_->verticalScrollBar();
                if (bar->value() < bar->maximum()) {
                    heldAt_ = bar->value();
                }
                editor_->clear();
                shown_.clear();
                shownLines_ = 0;
            }
        }
        fetched_.insert(fetched_.end(), std::make_move_iterator(delta->lines.begin()),
                        std::make_move_iterator(delta->lines.end()));
        // In slices, so that a flood of lines leaves the window time to
        // paint and answer the operator between them; what is left waits
        // here rather than being fetched again.
        while (nextFetched_ < fetched_.size()) {
            const std::size_t count = std::min(kSlice, fetched_.size() - nextFetched_);
            const auto first = fetched_.cbegin() + static_cast<std::ptrdiff_t>(nextFetched_);
            append(first, first + static_cast<std::ptrdiff_t>(count));
            shownLines_ += count;
            nextFetched_ += count;
            if (nextFetched_ < fetched_.size() && std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
        }
        fetched_.clear();
        nextFetched_ = 0;
        heldAt_ = -1;
        return true;
    }

    void scrollTo(const rte::ControlInfo& info) override {
        QScrollBar* bar = editor_->verticalScrollBar();
        if (info.firstVisibleLine < 0 ||
            static_cast<std::size_t>(info.firstVisibleLine) >= info.lineCount) {
            bar->setValue(bar->maximum());
        } else {
            bar->setValue(info.firstVisibleLine);
        }
    }

  protected:
    void refreshValue(const rte::ControlInfo&) override {}

  private:
    static QFont monospaceFont() {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), font.family()});
        return font;
    }

    using Lines = std::vector<std::string>::const_iterator;
    static constexpr std::size_t kSlice = 250;

    // A refill that keeps most of what is shown (lines dropped from the top,
    // the last line grown, lines added: what a bounded receive box does with
    // every run) is made as that edit instead of a redraw of every line.
    // Takes the kept lines off `lines`; false when the box must be redrawn.
    bool patch(std::vector<std::string>& lines) {
        if (!editor_->isReadOnly() || shown_.empty() || lines.empty()) {
            return false;
        }
        const std::size_t drop = keptFrom(lines);
        if (drop == shown_.size()) {
            return false;
        }
        std::size_t same = 0;
        while (drop + same < shown_.size() && same < lines.size() &&
               shown_[drop + same] == lines[same]) {
            ++same;
        }
        QScrollBar* bar = editor_->verticalScrollBar();
        const bool following = bar->value() >= bar->maximum();
        const int value = bar->value();
        QTextDocument* document = editor_->document();
        QTextCursor cursor(document);
        cursor.beginEditBlock();
        if (drop > 0) {
            cursor.movePosition(QTextCursor::Start);
            cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor,
                                static_cast<int>(drop));
            cursor.removeSelectedText();
        }
        if (drop + same < shown_.size()) {
            const QTextBlock last = document->findBlockByNumber(static_cast<int>(same) - 1);
            cursor.setPosition(last.position() + last.length() - 1);
            cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.endEditBlock();
        shown_.erase(shown_.begin(), shown_.begin() + static_cast<std::ptrdiff_t>(drop));
        shown_.resize(same);
        shownLines_ = same;
        lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(same));
        if (following) {
            bar->setValue(bar->maximum());
        } else {
            // The line read stays in view as the lines above it go.
            heldAt_ = std::max(0, value - static_cast<int>(drop));
            bar->setValue(heldAt_);
        }
        return true;
    }

    // Where the refill's first line sits in what is shown: the first place
    // from which every shown line but the last (which may have grown) is
    // still there. Matching the first line alone is not enough: a hex dump
    // repeats lines, and a wrong match redraws nearly the whole box.
    // The search is bounded so that a box of near-identical lines cannot
    // make it quadratic; past that, the first line that matches will do.
    std::size_t keptFrom(const std::vector<std::string>& lines) const {
        const std::size_t settled = shown_.size() - 1;
        std::size_t budget = 4 * shown_.size() + 64;
        std::size_t firstMatch = shown_.size();
        for (std::size_t drop = 0; drop < shown_.size(); ++drop) {
            if (shown_[drop] != lines[0]) {
                continue;
            }
            if (firstMatch == shown_.size()) {
                firstMatch = drop;
            }
            const std::size_t wanted = settled > drop ? settled - drop : 0;
            if (lines.size() < wanted) {
                continue;
            }
            std::size_t same = 1;
            while (same < wanted && budget > 0 && shown_[drop + same] == lines[same]) {
                ++same;
                --budget;
            }
            if (same >= wanted) {
                return drop;
            }
            if (budget == 0) {
                break;
            }
        }
        return firstMatch;
    }

    void append(Lines first, Lines last) {
        QScrollBar* bar = editor_->verticalScrollBar();
        const bool following = heldAt_ < 0 && bar->value() >= bar->maximum();
        QTextCursor cursor(editor_->document());
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        // An empty first line is a line too: only a box showing no line at
        // all starts without a new block.
        if (shownLines_ > 0) {
            cursor.insertBlock();
        }
        cursor.insertText(joined(first, last));
        cursor.endEditBlock();
        if (editor_->isReadOnly()) {
            shown_.insert(shown_.end(), first, last);
        }
        if (following) {
            bar->setValue(bar->maximum());
        } else if (heldAt_ >= 0) {
            bar->setValue(heldAt_);
        }
    }

    Editor* editor_;
    std::uint64_t generation_ = 0;
    std::size_t shownLines_ = 0;
    // Lines read from the model but not shown yet: fetched_[nextFetched_...].
    std::vector<std::string> fetched_;
    std::size_t nextFetched_ = 0;
    int heldAt_ = -1;  // scroll position kept through a refill, -1 none
    // What a read-only box shows, line by line, to find what a refill keeps.
    std::vector<std::string> shown_;
};

}  // namespace

std::unique_ptr<ControlView> makeTextBoxView(const rte::ControlInfo& info, QWidget* parent) {
    return std::make_unique<TextBoxView>(info, parent);
}

}  // namespace rte_qt
