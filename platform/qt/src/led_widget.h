#pragma once

#include <QColor>
#include <QWidget>

namespace rte_qt {

// A round indicator lamp: a filled circle in the on or off colour.
class LedWidget : public QWidget {
  public:
    explicit LedWidget(QWidget* parent = nullptr);

    void setOn(bool on);
    bool isOn() const { return on_; }
    void setOnColor(QColor color);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    bool on_ = false;
    QColor onColor_{0x20, 0xc0, 0x30};
};

}  // namespace rte_qt
