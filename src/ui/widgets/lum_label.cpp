#include "ui/widgets/lum_label.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "ui/widgets/focus.h"
#include "ui/widgets/norv_sub_drag_view.h"

namespace h8::ui {

namespace {

std::optional<QColor> validOrNone(std::optional<QColor> color) {
    if (color && !color->isValid()) return std::nullopt;
    return color;
}

}  // namespace

LumLabel::LumLabel(QWidget* parent) : LumLabel(QString(), parent) {}

LumLabel::LumLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setTextInteractionFlags(Qt::NoTextInteraction);
    // Without an explicit role a label takes its colour from its parent's role: inside a button
    // that would be ButtonText, not the colour set with setTextColor().
    setForegroundRole(QPalette::WindowText);
}

// A drag cut short by destroying the label must not leave its copy floating in the window.
LumLabel::~LumLabel() {
    delete floating_;
}

void LumLabel::setBackgroundColor(std::optional<QColor> color) {
    background_ = validOrNone(color);
    update();
}

void LumLabel::setBorder(std::optional<QColor> color, qreal width) {
    border_ = validOrNone(color);
    borderWidth_ = width;
    update();
}

void LumLabel::setBorderColor(std::optional<QColor> color) {
    setBorder(color, borderWidth_);
}

void LumLabel::setTextColor(const QColor& color) {
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, color);
    setPalette(pal);
}

QColor LumLabel::textColor() const {
    return palette().color(QPalette::WindowText);
}

void LumLabel::setFocusMarked(bool marked) {
    if (focusMarked_ == marked) return;
    focusMarked_ = marked;
    update();
}

NorvSubDragView* LumLabel::floatingView() const {
    return floating_;
}

void LumLabel::cancelDrag() {
    dragCancelled_ = true;
    isDraging = false;
    delete floating_;
}

void LumLabel::paintEvent(QPaintEvent* event) {
    if (background_) {
        QPainter p(this);
        p.fillRect(rect(), *background_);
    }
    QLabel::paintEvent(event);
    // The border goes on top of the content, inside the label's bounds.
    if (border_ && borderWidth_ > 0) {
        QPainter p(this);
        const qreal half = borderWidth_ / 2;
        p.setPen(QPen(*border_, borderWidth_));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(rect()).adjusted(half, half, -half, -half));
    }
    if (focusMarked_) {
        QPainter p(this);
        drawFocusRing(p, rect());
    }
}

void LumLabel::reportHover(MouseMoveEvent event) {
    hoverState = event;
    if (observer) observer(event, this);
}

void LumLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    reportHover(MouseMoveEvent::entered);
}

void LumLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    reportHover(MouseMoveEvent::exited);
}

void LumLabel::mousePressEvent(QMouseEvent* event) {
    dragCancelled_ = false;
    // Taking the press makes this label the receiver of the moves and the release that follow.
    if (canDrag || labelDoubleClick) {
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void LumLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!canDrag || !(event->buttons() & Qt::LeftButton)) {
        QLabel::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (dragCancelled_) return;
    const QPoint local = event->position().toPoint();
    // Moving around inside the label is not a drag yet.
    if (!isDraging && rect().contains(local)) return;

    QWidget* win = window();
    if (!floating_) {
        auto* floating = new NorvSubDragView(NorvSubDragView::Layout::single, win);
        floating->toplabel->setBorderColor(border_);
        floating->toplabel->setBackgroundColor(background_);
        floating->toplabel->setText(text());
        floating_ = floating;
        floating->show();
        floating->raise();
        isDraging = true;
    }
    floating_->moveUnderPointer(mapTo(win, local));
}

void LumLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (!canDrag && !floating_) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    isDraging = false;
    QPointer<NorvSubDragView> floating = floating_;
    floating_ = nullptr;
    if (!floating) return;
    if (labelMouseUp) labelMouseUp(floating, this);
    delete floating;  // null when the callback already deleted it
}

void LumLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!labelDoubleClick) {
        QLabel::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    labelDoubleClick(this);
}

}  // namespace h8::ui
