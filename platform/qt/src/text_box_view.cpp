#include "text_box_view.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>

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

QString joined(const std::vector<std::string>& lines) {
    std::size_t bytes = 0;
    for (const std::string& line : lines) {
        bytes += line.size() + 1;
    }
    std::string text;
    text.reserve(bytes);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
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
        setCaption(captionAboveTextBox(info, parent));
    }

    void syncLines() override {
        auto delta = rte::ReadTextBox(panel(), control(), generation_, shownLines_);
        if (!delta) {
            return;
        }
        const QSignalBlocker quiet(editor_);
        if (delta->reset) {
            const QString text = joined(delta->lines);
            // The operator's own typing comes back as a reset; keep the cursor.
            if (editor_->toPlainText() != text) {
                editor_->setPlainText(text);
            }
        } else if (!delta->lines.empty()) {
            append(delta->lines);
        }
        generation_ = delta->generation;
        shownLines_ = delta->firstLine + delta->lines.size();
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

    static QLabel* captionAboveTextBox(const rte::ControlInfo& info, QWidget* parent) {
        if (info.label.empty()) {
            return nullptr;
        }
        auto* caption = new QLabel(QString::fromStdString(info.label), parent);
        const int height = caption->sizeHint().height();
        caption->setGeometry(info.left, info.top - height - 1, info.width, height);
        return caption;
    }

    void append(const std::vector<std::string>& lines) {
        QScrollBar* bar = editor_->verticalScrollBar();
        const bool following = bar->value() >= bar->maximum();
        QTextCursor cursor(editor_->document());
        cursor.beginEditBlock();
        cursor.movePosition(QTextCursor::End);
        // An empty first line is a line too: only a box showing no line at
        // all starts without a new block.
        if (shownLines_ > 0) {
            cursor.insertBlock();
        }
        cursor.insertText(joined(lines));
        cursor.endEditBlock();
        if (following) {
            bar->setValue(bar->maximum());
        }
    }

    Editor* editor_;
    std::uint64_t generation_ = 0;
    std::size_t shownLines_ = 0;
};

}  // namespace

std::unique_ptr<ControlView> makeTextBoxView(const rte::ControlInfo& info, QWidget* parent) {
    return std::make_unique<TextBoxView>(info, parent);
}

}  // namespace rte_qt
