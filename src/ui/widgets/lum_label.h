#pragma once

#include <QColor>
#include <QLabel>
#include <QPointer>
#include <functional>
#include <optional>

#include "ui/widgets/mouse_move_event.h"

namespace h8::ui {

class NorvSubDragView;

// A read-only text label that reports hovering and double clicks and, when canDrag is set, can be
// dragged out of itself as a floating copy (route chips and source handles are built on it).
//
// Background and border are painted by the label itself; a colour that is absent paints nothing.
// Text is vertically centred (Qt::AlignVCenter) whatever the horizontal alignment the owner picks.
//
// Callbacks run inside the label's own event handlers: an owner that wants to remove the label
// from a callback must use deleteLater(), not delete.
class LumLabel : public QLabel {
    Q_OBJECT

public:
    explicit LumLabel(QWidget* parent = nullptr);
    explicit LumLabel(const QString& text, QWidget* parent = nullptr);
    ~LumLabel() override;

    int actRowIndex = 0;  // owner's row tag
    int actColIndex = 0;  // owner's column tag
    bool canDrag = false;
    bool isDraging =
        false;  // a drag is running (set by the first move outside, cleared on release)
    MouseMoveEvent hoverState = MouseMoveEvent::exited;  // last hover event

    std::function<void(LumLabel*)> labelDoubleClick;
    // Called on release when a drag made a floating view; the view is deleted right after, so an
    // owner that keeps one of its labels must reparent it inside the callback.
    std::function<void(NorvSubDragView* floating, LumLabel*)> labelMouseUp;
    std::function<void(MouseMoveEvent, LumLabel*)> observer;

    void setBackgroundColor(std::optional<QColor> color);
    std::optional<QColor> backgroundColor() const { return background_; }
    void setBorder(std::optional<QColor> color, qreal width);
    void setBorderColor(std::optional<QColor> color);
    std::optional<QColor> borderColor() const { return border_; }
    qreal borderWidth() const { return borderWidth_; }
    void setTextColor(const QColor& color);
    QColor textColor() const;

    // Draws the focus ring over the label: the owner marks the label its keys act on.
    void setFocusMarked(bool marked);
    bool isFocusMarked() const { return focusMarked_; }

    // The floating copy while a drag runs, else null.
    NorvSubDragView* floatingView() const;
    // Ends a drag without a drop (labelMouseUp is not called): the floating copy goes, and the
    // rest of the gesture, until the next press, drags nothing.
    void cancelDrag();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void reportHover(MouseMoveEvent event);

    std::optional<QColor> background_;
    std::optional<QColor> border_;
    qreal borderWidth_ = 0;
    QPointer<NorvSubDragView> floating_;
    bool dragCancelled_ = false;  // the current gesture was cut short by cancelDrag()
    bool focusMarked_ = false;
};

}  // namespace h8::ui
