#include "ui/strips/level_bar.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace h8::ui {

LevelBar::LevelBar(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void LevelBar::setLevel(double level) {
    level_ = std::clamp(std::isnan(level) ? 0.0 : level, 0.0, 1.0);
    const int width = static_cast<int>(std::lround(level_ * this->width()));
    if (width == drawnWidth_) return;
    drawnWidth_ = width;
    update();
}

void LevelBar::setBorderColor(std::optional<QColor> color) {
    if (border_ == color) return;
    border_ = color;
    update();
}

void LevelBar::setBarBackground(std::optional<QColor> color) {
    background_ = color;
    update();
}

void LevelBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath shape;
    shape.addRoundedRect(bounds, 3, 3);
    if (background_) p.fillPath(shape, *background_);
    const double filled = level_ * width();
    if (filled > 0) {
        QLinearGradient gradient(0, 0, filled * gradientEnd(level_), 0);
        gradient.setColorAt(0.0, QColor(0, 204, 0));
        gradient.setColorAt(0.5, QColor(255, 255, 0));
        gradient.setColorAt(1.0, QColor(255, 153, 0));
        p.save();
        p.setClipPath(shape);
        p.fillRect(QRectF(0, 0, filled, height()), gradient);
        p.restore();
    }
    if (border_) {
        p.setPen(QPen(*border_, 1));
        p.drawPath(shape);
    }
}

}  // namespace h8::ui
