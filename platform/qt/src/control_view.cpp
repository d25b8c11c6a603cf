#include "control_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>
#include <climits>
#include <cmath>

#include "led_widget.h"
#include "mnemonic.h"
#include "text_box_view.h"

namespace rte_qt {

void ControlView::takeFocus() {
    if (body_ != nullptr) {
        body_->setFocus(Qt::OtherFocusReason);
    }
}

void ControlView::refresh(const rte::ControlInfo& info) {
    const QString label = QString::fromStdString(info.label);
    if (caption_) {
        caption_->setText(label);
        // A longer caption set by the program must not be cut off.
        placeCaption();
        caption_->setEnabled(!info.dimmed);
        caption_->setVisible(info.visible);
    } else {
        showLabel(label);
    }
    if (body_) {
        body_->setEnabled(!info.dimmed);
        body_->setVisible(info.visible);
    }
    refreshValue(info);
}

void ControlView::showLabel(const QString&) {}

void ControlView::setPlacement(const rte::ControlInfo& info) {
    design_ = QRect(info.left, info.top, std::max(info.width, 1), std::max(info.height, 1));
    follow_ = info.follow;
    centredCaption_ = info.kind == rte::ControlKind::Led;
}

void ControlView::place(QSize growth) {
    if (body_) {
        body_->setGeometry(bodyRect(followedRect(design_, follow_, growth)));
    }
    placeCaption();
}

void ControlView::placeCaption() {
    if (!caption_ || !body_) {
        return;
    }
    const QRect below = body_->geometry();
    const QSize hint = caption_->sizeHint();
    const int width = std::max(below.width(), hint.width());
    const int left = centredCaption_ ? below.left() + (below.width() - width) / 2 : below.left();
    caption_->setGeometry(left, below.top() - hint.height() - 1, width, hint.height());
}

QRect followedRect(const QRect& rect, const rte::Follow& follow, QSize growth) {
    const auto moved = [](int edge, double share, int by) {
        return edge + static_cast<int>(std::lround(share * by));
    };
    const int left = moved(rect.left(), follow.left, growth.width());
    const int top = moved(rect.top(), follow.top, growth.height());
    const int right = moved(rect.left() + rect.width(), follow.right, growth.width());
    const int bottom = moved(rect.top() + rect.height(), follow.bottom, growth.height());
    return {left, top, std::max(right - left, 1), std::max(bottom - top, 1)};
}

namespace {

int intOf(const rte::Value& value) {
    if (const int* i = std::get_if<int>(&value)) {
        return *i;
    }
    if (const double* d = std::get_if<double>(&value)) {
        return static_cast<int>(std::clamp(std::round(*d), double(INT_MIN), double(INT_MAX)));
    }
    return 0;
}

double doubleOf(const rte::Value& value) {
    if (const double* d = std::get_if<double>(&value)) {
        return *d;
    }
    return intOf(value);
}

QString textOf(const rte::Value& value) {
    if (const std::string* s = std::get_if<std::string>(&value)) {
        return QString::fromStdString(*s);
    }
    return {};
}

int clampToInt(double v) {
    return static_cast<int>(std::clamp(v, double(INT_MIN), double(INT_MAX)));
}

}  // namespace

QLabel* captionAbove(const rte::ControlInfo& info, QWidget* parent, bool centred) {
    if (info.label.empty()) {
        return nullptr;
    }
    auto* caption = new QLabel(QString::fromStdString(info.label), parent);
    caption->setObjectName(QString::fromStdString(info.constant + "_caption"));
    if (centred) {
        caption->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    }
    return caption;
}

namespace {

// -- numeric: entry, indicator or progress bar --------------------------------

class SpinView final : public ControlView {
  public:
    SpinView(const rte::ControlInfo& info, QWidget* parent) : ControlView(info.panel, info.id) {
        const int panel = info.panel, id = info.id;
        if (info.isDouble) {
            auto* spin = new QDoubleSpinBox(parent);
            spin->setDecimals(info.precision);
            spin->setKeyboardTracking(false);
            QObject::connect(spin, &QDoubleSpinBox::valueChanged, spin,
                             [panel, id](double v) { rte::UserCommit(panel, id, v); });
            doubleSpin_ = spin;
        } else {
            auto* spin = new QSpinBox(parent);
            spin->setKeyboardTracking(false);
            QObject::connect(spin, &QSpinBox::valueChanged, spin,
                             [panel, id](int v) { rte::UserCommit(panel, id, v); });
            intSpin_ = spin;
        }
        QWidget* body = intSpin_ ? static_cast<QWidget*>(intSpin_) : doubleSpin_;
        body->setObjectName(QString::fromStdString(info.constant));
        setBody(body);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        // The program may store values beyond the operator's limits; show them
        // as they are rather than clamped.
        if (intSpin_) {
            const QSignalBlocker quiet(intSpin_);
            const int value = intOf(info.value);
            intSpin_->setRange(std::min(clampToInt(info.minimum), value),
                               std::max(clampToInt(info.maximum), value));
            intSpin_->setValue(value);
        } else {
            const QSignalBlocker quiet(doubleSpin_);
            const double value = doubleOf(info.value);
            doubleSpin_->setRange(std::min(info.minimum, value), std::max(info.maximum, value));
            doubleSpin_->setValue(value);
        }
    }

  private:
    QSpinBox* intSpin_ = nullptr;
    QDoubleSpinBox* doubleSpin_ = nullptr;
};

QString numberText(const rte::ControlInfo& info) {
    return info.isDouble ? QString::number(doubleOf(info.value), 'f', info.precision)
                         : QString::number(intOf(info.value));
}

class IndicatorView final : public ControlView {
  public:
    IndicatorView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), field_(new QLineEdit(parent)) {
        field_->setReadOnly(true);
        field_->setFocusPolicy(Qt::NoFocus);
        field_->setObjectName(QString::fromStdString(info.constant));
        if (info.kind == rte::ControlKind::Numeric) {
            field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        setBody(field_);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        const QString text =
            info.kind == rte::ControlKind::Numeric ? numberText(info) : textOf(info.value);
        if (field_->text() != text) {
            field_->setText(text);
            field_->setCursorPosition(0);
        }
    }

  private:
    QLineEdit* field_;
};

class ProgressView final : public ControlView {
  public:
    ProgressView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), bar_(new QProgressBar(parent)) {
        bar_->setObjectName(QString::fromStdString(info.constant));
        bar_->setTextVisible(true);
        setBody(bar_);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        const int low = clampToInt(info.minimum);
        // Equal limits would make Qt draw a busy animation; an empty bar it is.
        const int high = std::max(clampToInt(info.maximum), low + 1);
        bar_->setRange(low, high);
        bar_->setValue(std::clamp(intOf(info.value), low, high));
    }

  private:
    QProgressBar* bar_;
};

// -- string entry --------------------------------------------------------------

class StringInputView final : public ControlView {
  public:
    StringInputView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), field_(new QLineEdit(parent)) {
        field_->setObjectName(QString::fromStdString(info.constant));
        const int panel = info.panel, id = info.id;
        QLineEdit* field = field_;
        QObject::connect(field_, &QLineEdit::editingFinished, field_, [field, panel, id] {
            if (field->isModified()) {
                field->setModified(false);
                rte::UserCommit(panel, id, field->text().toStdString());
            }
        });
        setBody(field_);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        // Leave text the operator is still editing alone.
        const QString text = textOf(info.value);
        if (!field_->isModified() && field_->text() != text) {
            field_->setText(text);
        }
    }

  private:
    QLineEdit* field_;
};

// -- ring ------------------------------------------------------------------------

class RingView final : public ControlView {
  public:
    RingView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), combo_(new QComboBox(parent)) {
        combo_->setObjectName(QString::fromStdString(info.constant));
        const int panel = info.panel, id = info.id;
        QObject::connect(combo_, &QComboBox::activated, combo_, [panel, id](int index) {
            rte::UserSelectIndex(panel, id, index);
            rte::PostControlEvent(panel, id, EVENT_COMMIT);
        });
        setBody(combo_);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        const QSignalBlocker quiet(combo_);
        QStringList labels;
        for (const rte::RingItem& item : info.items) {
            labels << QString::fromStdString(item.label);
        }
        if (labels != items_) {
            combo_->clear();
            combo_->addItems(labels);
            items_ = labels;
        }
        combo_->setCurrentIndex(info.selectedIndex);
    }

  private:
    QComboBox* combo_;
    QStringList items_;
};

// -- LED ---------------------------------------------------------------------------

QColor ledColor(const std::string& name) {
    if (name == "red") {
        return {0xe0, 0x20, 0x20};
    }
    if (name == "yellow") {
        return {0xf0, 0xc0, 0x10};
    }
    return {0x20, 0xc0, 0x30};
}

class LedView final : public ControlView {
  public:
    LedView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), led_(new LedWidget(parent)) {
        led_->setObjectName(QString::fromStdString(info.constant));
        led_->setOnColor(ledColor(info.style));
        setBody(led_);
        setCaption(captionAbove(info, parent, true));
    }

  protected:
    QRect bodyRect(const QRect& rect) const override {
        const int side = std::min(rect.width(), rect.height());
        return {rect.left(), rect.top(), side, side};
    }
    void refreshValue(const rte::ControlInfo& info) override {
        led_->setOn(intOf(info.value) != 0);
    }

  private:
    LedWidget* led_;
};

// -- toggle, switch, command button -------------------------------------------------

class ToggleView final : public ControlView {
  public:
    ToggleView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), button_(new QPushButton(parent)) {
        button_->setCheckable(true);
        button_->setObjectName(QString::fromStdString(info.constant));
        connectClick(button_, info);
        setBody(button_);
        // With texts for its two states the button shows those and the
        // caption goes above; without, the caption is the button's text.
        if (hasStateTexts(info)) {
            setCaption(captionAbove(info, parent));
        }
    }

    static bool hasStateTexts(const rte::ControlInfo& info) {
        return !info.onText.empty() || !info.offText.empty();
    }

    static void connectClick(QAbstractButton* button, const rte::ControlInfo& info) {
        const int panel = info.panel, id = info.id;
        // The engine flips the model's value; refresh then agrees with Qt's own flip.
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [panel, id] { rte::UserClick(panel, id); });
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        const bool on = intOf(info.value) != 0;
        button_->setChecked(on);
        const std::string& text =
            hasStateTexts(info) ? (on ? info.onText : info.offText) : info.label;
        button_->setText(mnemonicLabel(QString::fromStdString(text)));
    }

  private:
    QPushButton* button_;
};

class SwitchView final : public ControlView {
  public:
    SwitchView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), box_(new QCheckBox(parent)) {
        box_->setObjectName(QString::fromStdString(info.constant));
        ToggleView::connectClick(box_, info);
        setBody(box_);
        setCaption(captionAbove(info, parent));
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        const bool on = intOf(info.value) != 0;
        box_->setChecked(on);
        box_->setText(QString::fromStdString(on ? info.onText : info.offText));
    }

  private:
    QCheckBox* box_;
};

class ButtonView final : public ControlView {
  public:
    ButtonView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), button_(new QPushButton(parent)) {
        button_->setObjectName(QString::fromStdString(info.constant));
        button_->setAutoDefault(false);
        ToggleView::connectClick(button_, info);
        setBody(button_);
    }

  protected:
    void refreshValue(const rte::ControlInfo&) override {}
    void showLabel(const QString& label) override { button_->setText(mnemonicLabel(label)); }

  private:
    QPushButton* button_;
};

// -- tab control -----------------------------------------------------------------------

class TabView final : public ControlView {
  public:
    TabView(const rte::ControlInfo& info, QWidget* parent, const PageFactory& pages)
        : ControlView(info.panel, info.id), tabs_(new QTabWidget(parent)) {
        tabs_->setObjectName(QString::fromStdString(info.constant));
        for (std::size_t i = 0; i < info.pages.size(); ++i) {
            const QString label =
                i < info.pageLabels.size() ? QString::fromStdString(info.pageLabels[i]) : QString();
            tabs_->addTab(pages(info.pages[i], tabs_), label);
        }
        setBody(tabs_);
    }

    void place(QSize growth) override {
        ControlView::place(growth);
        const QSize tabGrowth = tabs_->size() - designRect().size();
        for (int i = 0; i < tabs_->count(); ++i) {
            if (auto* page = dynamic_cast<GrowingPage*>(tabs_->widget(i))) {
                page->grow(tabGrowth);
            }
        }
    }

  protected:
    void refreshValue(const rte::ControlInfo& info) override {
        tabs_->tabBar()->setVisible(info.tabsVisible);
    }

  private:
    QTabWidget* tabs_;
};

// -- decorations ------------------------------------------------------------------------

class LabelView final : public ControlView {
  public:
    LabelView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), label_(new QLabel(parent)) {
        label_->setObjectName(QString::fromStdString(info.constant));
        label_->setWordWrap(true);
        label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        setBody(label_);
    }

  protected:
    void refreshValue(const rte::ControlInfo&) override {}
    void showLabel(const QString& label) override { label_->setText(label); }

  private:
    QLabel* label_;
};

class FrameView final : public ControlView {
  public:
    FrameView(const rte::ControlInfo& info, QWidget* parent)
        : ControlView(info.panel, info.id), frame_(new QGroupBox(parent)) {
        frame_->setObjectName(QString::fromStdString(info.constant));
        // Frames are drawn first and must not hide what the file puts on them.
        frame_->lower();
        setBody(frame_);
    }

  protected:
    void refreshValue(const rte::ControlInfo&) override {}
    void showLabel(const QString& label) override { frame_->setTitle(label); }

  private:
    QGroupBox* frame_;
};

}  // namespace

namespace {

std::unique_ptr<ControlView> makeView(const rte::ControlInfo& info, QWidget* parent,
                                      const PageFactory& pages) {
    switch (info.kind) {
        case rte::ControlKind::Numeric:
            if (info.style == "progress") {
                return std::make_unique<ProgressView>(info, parent);
            }
            if (info.style == "indicator") {
                return std::make_unique<IndicatorView>(info, parent);
            }
            return std::make_unique<SpinView>(info, parent);
        case rte::ControlKind::String:
            if (info.style == "indicator") {
                return std::make_unique<IndicatorView>(info, parent);
            }
            return std::make_unique<StringInputView>(info, parent);
        case rte::ControlKind::TextBox:
            return makeTextBoxView(info, parent);
        case rte::ControlKind::Ring:
            return std::make_unique<RingView>(info, parent);
        case rte::ControlKind::Led:
            return std::make_unique<LedView>(info, parent);
        case rte::ControlKind::Toggle:
            return std::make_unique<ToggleView>(info, parent);
        case rte::ControlKind::Switch:
            return std::make_unique<SwitchView>(info, parent);
        case rte::ControlKind::Button:
            return std::make_unique<ButtonView>(info, parent);
        case rte::ControlKind::Tab:
            return std::make_unique<TabView>(info, parent, pages);
        case rte::ControlKind::Decoration:
            if (info.style == "frame") {
                return std::make_unique<FrameView>(info, parent);
            }
            return std::make_unique<LabelView>(info, parent);
        case rte::ControlKind::Timer:
            break;
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<ControlView> makeControlView(const rte::ControlInfo& info, QWidget* parent,
                                             const PageFactory& pages) {
    auto view = makeView(info, parent, pages);
    if (view) {
        view->setPlacement(info);
        view->place({0, 0});
    }
    return view;
}

}  // namespace rte_qt
