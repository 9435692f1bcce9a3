#include "ui/widgets/lum_volume_vircle_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "ui/widgets/focus.h"
#include "ui/widgets/images.h"
#include "ui/widgets/lum_circular_view.h"

namespace h8::ui {

namespace {

// The arcs start at 240° (lower left) and run clockwise over 300°; QPainter counts 1/16 degrees,
// counter-clockwise positive.
constexpr int kArcStart = 240 * 16;
constexpr int kArcSpan = -300 * 16;

}  // namespace

LumVolumeVircleView::LumVolumeVircleView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

void LumVolumeVircleView::updateLevel(double v) {
    level_ = v;
    update();
}

void LumVolumeVircleView::stepLevel(double direction) {
    level_ = knob::steppedLevel(level_, direction, avgCount);
    if (callBack) callBack(reportedLevel());
    updateLevel(level_);
}

double LumVolumeVircleView::progress() const {
    return avgCount > 0 ? level_ / avgCount : 0;
}

int LumVolumeVircleView::reportedLevel() const {
    return knob::truncatedLevel(level_);
}

double LumVolumeVircleView::pointerAngle() const {
    return knob::angleFor(level_, avgCount) + (width() > 0 ? 2.0 / width() : 0.0);
}

void LumVolumeVircleView::paintEvent(QPaintEvent*) {
    const qreal side = std::min(width(), height());
    const qreal r = (side - 1) / 2;
    if (r <= 0) return;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect imageRect(QPoint(0, 0), size());
    p.drawPixmap(imageRect, image(QStringLiteral("volume"), size()));
    if (hasFocus()) drawFocusRing(p, QRectF(rect()), std::min(width(), height()) / 2.0);

    const QPointF centre = QRectF(rect()).center();
    const QRectF arcRect(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
    p.setBrush(Qt::NoBrush);
    if (bgCcolor) {
        p.setPen(QPen(*bgCcolor, 0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawArc(arcRect, kArcStart, kArcSpan);
    }
    const double fraction = std::clamp(progress(), 0.0, 1.0);
    if (froColor && fraction > 0) {
        p.setPen(QPen(*froColor, 0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.drawArc(arcRect, kArcStart, static_cast<int>(std::lround(kArcSpan * fraction)));
    }

    p.translate(centre);
    p.rotate(-pointerAngle() * 180 /
             std::numbers::pi);  // on screen, positive degrees turn clockwise
    p.setPen(QPen(QColor(Qt::gray), 0.5));
    p.drawLine(QPointF(0, 0), QPointF(r, 0));
}

void LumVolumeVircleView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) lastDragY_ = event->position().y();
}

void LumVolumeVircleView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!(event->buttons() & Qt::LeftButton)) return;
    const qreal y = event->position().y();
    const qreal dy = lastDragY_ ? y - *lastDragY_ : 0;
    lastDragY_ = y;
    if (dy == 0) return;
    if (++calculCount % 3 != 0) return;
    calculCount = 0;
    stepLevel(-dy);  // screen y grows downward: dragging up turns the level up
}

void LumVolumeVircleView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) lastDragY_.reset();
}

void LumVolumeVircleView::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (knob::isPhaseMarker(*event)) return;
    stepLevel(event->angleDelta().y());
}

void LumVolumeVircleView::keyPressEvent(QKeyEvent* event) {
    const int step = arrowKeyStep(event->key());
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    stepLevel(step);
}

}  // namespace h8::ui
