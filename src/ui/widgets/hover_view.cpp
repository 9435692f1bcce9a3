#include "ui/widgets/hover_view.h"

#include <QEnterEvent>
#include <QPainter>

namespace h8::ui {

HoverView::HoverView(QWidget* parent) : QWidget(parent) {}

void HoverView::setBackgroundColor(std::optional<QColor> color) {
    if (color && !color->isValid()) color.reset();
    background_ = color;
    update();
}

void HoverView::setBorder(std::optional<QColor> color, qreal width, qreal cornerRadius) {
    if (color && !color->isValid()) color.reset();
    border_ = color;
    borderWidth_ = width;
    cornerRadius_ = cornerRadius;
    update();
}

void HoverView::paintEvent(QPaintEvent*) {
    if (!background_ && !(border_ && borderWidth_ > 0)) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, cornerRadius_ > 0);
    const qreal half = border_ ? borderWidth_ / 2 : 0;
    const QRectF r = QRectF(rect()).adjusted(half, half, -half, -half);
    p.setPen(border_ && borderWidth_ > 0 ? QPen(*border_, borderWidth_) : QPen(Qt::NoPen));
    p.setBrush(background_ ? QBrush(*background_) : QBrush(Qt::NoBrush));
    p.drawRoundedRect(r, cornerRadius_, cornerRadius_);
}

void HoverView::reportHover(MouseMoveEvent event) {
    hoverState = event;
    if (observer) observer(event, this);
}

void HoverView::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    reportHover(MouseMoveEvent::entered);
}

void HoverView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    reportHover(MouseMoveEvent::exited);
}

}  // namespace h8::ui
