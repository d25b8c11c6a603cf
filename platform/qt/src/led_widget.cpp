#include "led_widget.h"

#include <QEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

namespace rte_qt {

LedWidget::LedWidget(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void LedWidget::setOn(bool on) {
    if (on == on_) {
        return;
    }
    on_ = on;
    update();
}

void LedWidget::setOnColor(QColor color) {
    onColor_ = color;
    update();
}

QSize LedWidget::sizeHint() const {
    return {16, 16};
}

void LedWidget::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        update();
    }
    QWidget::changeEvent(event);
}

void LedWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height()) - 2.0;
    const QRectF circle((width() - side) / 2.0, (height() - side) / 2.0, side, side);

    QColor base = on_ ? onColor_ : onColor_.darker(350);
    if (!isEnabled()) {
        base = QColor(base.lightness(), base.lightness(), base.lightness());
    }
    // A highlight off centre gives the lamp a little depth.
    QRadialGradient gradient(circle.center() - QPointF(side / 6.0, side / 6.0), side / 1.6);
    gradient.setColorAt(0.0, base.lighter(on_ ? 170 : 130));
    gradient.setColorAt(1.0, base);
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor(0x50, 0x50, 0x50), 1.0));
    painter.drawEllipse(circle);
}

}  // namespace rte_qt
