#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

#include "rte_frontend.h"

namespace rte_qt {

// One control of a panel drawn as Qt widgets. The view never keeps state of
// its own beyond what it needs to apply model changes incrementally: every
// refresh re-reads a copy of the control from the model.
class ControlView {
  public:
    ControlView(int panel, int control) : panel_(panel), control_(control) {}
    virtual ~ControlView() = default;
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    int panel() const { return panel_; }
    int control() const { return control_; }
    void takeFocus();

    // Value and attributes (dimmed, visible, label, limits, ...).
    void refresh(const rte::ControlInfo& info);
    // Remembers where the file puts the control and how it follows a resize.
    void setPlacement(const rte::ControlInfo& info);
    // Puts body and caption where they belong when the panel is growth
    // larger than in the file (smaller when negative).
    virtual void place(QSize growth);
    // Text boxes: fetch lines the window does not show yet, until deadline
    // passes; false when lines are left for the next turn of the event loop.
    virtual bool syncLines(std::chrono::steady_clock::time_point /*deadline*/) { return true; }
    // Text boxes: apply the first visible line.
    virtual void scrollTo(const rte::ControlInfo&) {}

  protected:
    // Widgets belong to the panel widget; the view only points at them.
    void setBody(QWidget* body) { body_ = body; }
    void setCaption(QLabel* caption) { caption_ = caption; }
    QWidget* body() const { return body_; }
    // The control's rectangle in the file.
    QRect designRect() const { return design_; }
    // The body's rectangle within the control's (a lamp is round).
    virtual QRect bodyRect(const QRect& rect) const { return rect; }
    virtual void refreshValue(const rte::ControlInfo& info) = 0;
    // The caption text, for controls that show it on the body itself.
    virtual void showLabel(const QString& label);

  private:
    void placeCaption();

    int panel_;
    int control_;
    QPointer<QWidget> body_;
    QPointer<QLabel> caption_;
    QRect design_;
    rte::Follow follow_;
    bool centredCaption_ = false;
};

// Where a rectangle of the file goes when its panel is growth larger: each
// edge moves by its share of the growth.
QRect followedRect(const QRect& rect, const rte::Follow& follow, QSize growth);

// A tab page: lays its controls out again when its tab control grows.
class GrowingPage {
  public:
    virtual ~GrowingPage() = default;
    virtual void grow(QSize growth) = 0;
};

// A caption just above a control's body, where the panel file leaves room
// for it (placed with the body); centred over a lamp. Null when the control
// has no label.
QLabel* captionAbove(const rte::ControlInfo& info, QWidget* parent, bool centred = false);

// Builds the page panels of a tab control (they are panels of their own).
using PageFactory = std::function<QWidget*(int pageHandle, QWidget* parent)>;

// Creates the widgets of a control on parent; null for controls that are
// never drawn (timer controls).
std::unique_ptr<ControlView> makeControlView(const rte::ControlInfo& info, QWidget* parent,
                                             const PageFactory& pages);

}  // namespace rte_qt
