#include "ui/widgets/hover_button.h"

#include <QEnterEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

#include "ui/widgets/focus.h"
#include "ui/widgets/images.h"
#include "ui/widgets/style.h"

namespace h8::ui {

HoverButton::HoverButton(QWidget* parent) : QAbstractButton(parent), label(new LumLabel(this)) {
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    resize(kWidth, kHeight);
    label->setGeometry(0, 0, kWidth, kHeight);
    label->setFont(systemFont(8));
    label->setTextColor(Qt::white);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->hide();
    // Switched on under the pointer (a click) the level shows at once; switched off it goes.
    connect(this, &QAbstractButton::toggled, this,
            [this](bool on) { setLabelShown(on && hoverState == MouseMoveEvent::entered); });
}

void HoverButton::setOnImage(const QString& imageName) {
    onImage_ = imageName;
    update();
}

void HoverButton::setHighlighted(bool highlighted) {
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
    update();
}

void HoverButton::setFocusMarked(bool marked) {
    if (focusMarked_ == marked) return;
    focusMarked_ = marked;
    update();
}

void HoverButton::setLabelShown(bool shown) {
    label->setVisible(shown);
}

bool HoverButton::isLabelShown() const {
    return !label->isHidden();
}

int HoverButton::volumeStep(double d) {
    if (d > 10) return 2;
    if (d > 0) return 1;
    if (d >= -10) return -1;
    return -2;
}

void HoverButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (highlighted_) p.fillRect(rect(), withAlpha(QColor(128, 128, 128), 0.3));
    if (isChecked() && !onImage_.isEmpty()) {
        p.drawPixmap(QPoint(0, 0), image(onImage_, size(), devicePixelRatioF()));
    }
    if (focusMarked_) drawFocusRing(p, rect());
}

void HoverButton::enterEvent(QEnterEvent* event) {
    QAbstractButton::enterEvent(event);
    hoverState = MouseMoveEvent::entered;
    if (observer) observer(MouseMoveEvent::entered);
    if (isChecked()) setLabelShown(true);
}

void HoverButton::leaveEvent(QEvent* event) {
    QAbstractButton::leaveEvent(event);
    hoverState = MouseMoveEvent::exited;
    if (observer) observer(MouseMoveEvent::exited);
    setLabelShown(false);
}

bool HoverButton::scrollLevel(int angleDeltaY) {
    if (!isChecked()) return false;
    const int step = volumeStep(wheelDelta(angleDeltaY));
    volume = std::clamp(volume + static_cast<float>(step), 0.0f, 100.0f);
    if (applyVolume) applyVolume(this);
    return true;
}

// An unchecked crosspoint lets the wheel go on to the enclosing view.
void HoverButton::wheelEvent(QWheelEvent* event) {
    event->setAccepted(scrollLevel(event->angleDelta().y()));
}

}  // namespace h8::ui
