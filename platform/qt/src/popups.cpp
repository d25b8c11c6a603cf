#include "popups.h"

#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <array>

#include "mnemonic.h"
#include "rte_language.h"
#include "window_settings.h"

namespace rte_qt {

namespace {

// A message with up to three buttons, centred under it whatever alignment
// the caller asks for. Unlike a plain message box it lets the Enter key
// press one button while another has the focus, lets Escape do nothing when
// no button answers it, and takes a button's shortcut letter without Alt
// when there is no entry field to type into.
class GenericDialog final : public QDialog {
  public:
    GenericDialog(const rte::GenericRequest& request, QWidget* parent) : QDialog(parent) {
        setWindowTitle(QString::fromStdString(request.title));
        setModal(true);
        auto* layout = new QVBoxLayout(this);
        auto* message = new QLabel(QString::fromStdString(request.message), this);
        message->setTextFormat(Qt::PlainText);
        message->setObjectName(QStringLiteral("message"));
        message->setMinimumWidth(260);
        layout->addWidget(message);
        if (request.wantsResponse && request.maxResponseLength > 0) {
            response_ = new QLineEdit(this);
            response_->setMaxLength(request.maxResponseLength);
            layout->addWidget(response_);
        }
        auto* row = new QHBoxLayout;
        row->addStretch();
        for (int i = 0; i < 3; ++i) {
            const std::string& raw = request.buttons[static_cast<std::size_t>(i)];
            if (raw.empty()) {
                continue;
            }
            auto* button = new QPushButton(mnemonicLabel(QString::fromStdString(raw)), this);
            button->setObjectName(QStringLiteral("button%1").arg(i + 1));
            // Enter must press the Enter button, not whichever has the focus.
            button->setAutoDefault(false);
            const int answer = i + 1;
            connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
            row->addWidget(button);
            buttons_[static_cast<std::size_t>(i)] = button;
            shortcuts_[static_cast<std::size_t>(i)] = rte::ParseButtonLabel(raw).shortcut;
        }
        row->addStretch();
        layout->addLayout(row);

        if (QPushButton* enter = buttonAt(request.enterButton)) {
            enter->setDefault(true);
        }
        escape_ = buttonAt(request.escapeButton);
        // Given before the dialog shows, the focus is where it starts.
        if (response_) {
            response_->setFocus();
        } else if (QPushButton* focus =
                       buttonAt(request.activeControl == 0 ? 1 : request.activeControl)) {
            focus->setFocus();
        }
    }

    QString response() const { return response_ ? response_->text() : QString(); }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) {
            if (escape_) {
                escape_->click();
            }
            return;
        }
        if (!response_ && event->modifiers() == Qt::NoModifier) {
            const QString typed = event->text().toUpper();
            for (std::size_t i = 0; i < buttons_.size(); ++i) {
                if (buttons_[i] && shortcuts_[i] != 0 && typed.size() == 1 &&
                    typed[0] == QChar::fromLatin1(shortcuts_[i]).toUpper()) {
                    buttons_[i]->click();
                    return;
                }
            }
        }
        QDialog::keyPressEvent(event);
    }

  private:
    QPushButton* buttonAt(int number) const {
        return number >= 1 && number <= 3 ? buttons_[static_cast<std::size_t>(number - 1)]
                                          : nullptr;
    }

    std::array<QPushButton*, 3> buttons_{};
    std::array<char, 3> shortcuts_{};
    QPushButton* escape_ = nullptr;
    QLineEdit* response_ = nullptr;
};

// Runs a dialog modally and reads its answer. A dialog lives on the heap:
// its parent window may be discarded while it is open (the program runs on
// meanwhile), which deletes it; it then counts as closed without an answer.
template <typename Dialog, typename Read>
auto runModal(Dialog* dialog, Read read) -> decltype(read(*dialog, 0)) {
    const QPointer<Dialog> alive(dialog);
    // Once shown, brought to the front and given the keyboard, whatever the
    // window manager decided while it mapped it.
    QMetaObject::invokeMethod(
        dialog,
        [dialog] {
            dialog->raise();
            dialog->activateWindow();
        },
        Qt::QueuedConnection);
    const int result = dialog->exec();
    if (!alive) {
        return {};
    }
    auto answer = read(*dialog, result);
    delete dialog;
    return answer;
}

// A text of the front end's own in the language in use.
QString Shown(const char* text) {
    return QString::fromUtf8(RTE_Translate(text));
}

}  // namespace

void showMessagePopup(const rte::MessageRequest& request, QWidget* parent) {
    rte::GenericRequest generic;
    generic.title = request.title;
    generic.message = request.message;
    generic.buttons[0] = RTE_Translate("确定");
    generic.enterButton = 1;
    generic.escapeButton = 1;
    runModal(new GenericDialog(generic, parent), [](GenericDialog&, int) { return 0; });
}

rte::GenericAnswer showGenericPopup(const rte::GenericRequest& request, QWidget* parent) {
    return runModal(new GenericDialog(request, parent), [](GenericDialog& dialog, int result) {
        rte::GenericAnswer answer;
        answer.button = result >= 1 && result <= 3 ? result : 0;
        answer.response = dialog.response().toStdString();
        return answer;
    });
}

rte::FileAnswer showFilePopup(const rte::FileRequest& request, QWidget* parent) {
    // Qt's own dialog rather than the desktop's: the same everywhere, and
    // one the window's thread can run modally without a portal. It always
    // offers Cancel and lets the operator change folders.
    auto* files = new QFileDialog(parent, QString::fromStdString(request.title));
    QFileDialog& dialog = *files;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The program's own choice first, else where the last dialog (of this
    // run or an earlier one) was left.
    QString folder = QString::fromStdString(request.directory);
    if (folder.isEmpty()) {
        folder = lastFileFolder();
    }
    dialog.setDirectory(folder.isEmpty() || !QDir(folder).exists() ? QDir::currentPath() : folder);
    const bool saving = request.buttonLabel == 1;
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, Shown(saving                     ? "保存"
                                                   : request.buttonLabel == 2 ? "打开"
                                                                              : "确定"));
    dialog.setLabelText(QFileDialog::Reject, Shown("取消"));
    if (!request.allowMakeDirectory) {
        dialog.setOption(QFileDialog::ReadOnly);
    }

    QStringList filters;
    const QString spec = QString::fromStdString(request.fileSpec);
    if (!spec.isEmpty()) {
        filters << spec;
    }
    for (const QString& pattern :
         QString::fromStdString(request.typeList).split(u';', Qt::SkipEmptyParts)) {
        if (!filters.contains(pattern.trimmed())) {
            filters << pattern.trimmed();
        }
    }
    if (!request.restrictExtension) {
        filters << Shown("所有文件 (*)");
    }
    dialog.setNameFilters(filters);

    return runModal(files, [](QFileDialog& chosen, int result) {
        rte::FileAnswer answer;
        if (result != QDialog::Accepted || chosen.selectedFiles().isEmpty()) {
            return answer;
        }
        const QString path = QFileInfo(chosen.selectedFiles().front()).absoluteFilePath();
        rememberFileFolder(QFileInfo(path).absolutePath());
        answer.path = path.toStdString();
        answer.result =
            QFileInfo::exists(path) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
        return answer;
    });
}

}  // namespace rte_qt
