#include "ui/widgets/lum_circular_view.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "core/hardware_poller.h"
#include "platform/clock.h"
#include "ui/widgets/focus.h"
#include "ui/widgets/lum_label.h"
#include "ui/widgets/style.h"

namespace h8::ui {

namespace knob {

double angleFor(double v, int avgCount) {
    constexpr double pi = std::numbers::pi;
    if (avgCount <= 0) return 4 * pi / 3;
    return 4 * pi / 3 - (5 * pi / 3) * v / avgCount;
}

double steppedLevel(double level, double direction, int avgCount) {
    const double next = direction <= 0 ? level - 1 : level + 1;
    return std::clamp(next, 0.0, static_cast<double>(std::max(avgCount, 0)));
}

int truncatedLevel(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lo = std::numeric_limits<int>::min();
    constexpr double hi = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(std::trunc(v), lo, hi));
}

bool isPhaseMarker(const QWheelEvent& event) {
    const Qt::ScrollPhase phase = event.phase();
    return (phase == Qt::ScrollBegin || phase == Qt::ScrollEnd) && event.angleDelta().isNull() &&
           event.pixelDelta().isNull();
}

}  // namespace knob

namespace {

constexpr std::chrono::milliseconds kScrollReportDelayMs{70};
constexpr std::chrono::milliseconds kGestureEndAfterReleaseMs{1000};

}  // namespace

LumCircularView::LumCircularView(Clock& clock, QWidget* parent)
    : QWidget(parent),
      label(new LumLabel(this)),
      reportTimer_(clock.createTimer()),
      releaseTimer_(clock.createTimer()) {
    label->setFont(systemFont(10));
    label->setTextColor(QColor(Qt::gray));
    label->setAlignment(Qt::AlignCenter);
    // The label covers the knob; it must not take the knob's presses, drags and scrolls.
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setGeometry(rect());

    reportTimer_->setSingleShot(true);
    connect(reportTimer_.get(), &ClockTimer::timeout, this, &LumCircularView::reportAfterScroll);
    releaseTimer_->setSingleShot(true);
    connect(releaseTimer_.get(), &ClockTimer::timeout, this, &LumCircularView::endGesture);
    setFocusPolicy(Qt::StrongFocus);
}

// A knob removed in the middle of a gesture must not leave the poll paused for good.
LumCircularView::~LumCircularView() {
    endGesture();
}

void LumCircularView::beginGesture() {
    releaseTimer_->stop();  // a new turn right after a release: one gesture
    if (turning_) return;
    turning_ = true;
    emit gestureBegan();
}

void LumCircularView::endGesture() {
    if (!turning_) return;
    turning_ = false;
    emit gestureEnded();
}

void LumCircularView::updateLevel(double v) {
    // The hardware poll shows its readings six times a second: repaint only on a change.
    if (v == level_ && painted_) return;
    showLevel(v);
    update();
}

void LumCircularView::showLevel(double v) {
    level_ = v;
    label->setText(QString::number(knob::truncatedLevel(v)));
}

void LumCircularView::stepLevel(double direction) {
    updateLevel(knob::steppedLevel(level_, direction, avgCount));
}

double LumCircularView::progress() const {
    return avgCount > 0 ? level_ / avgCount : 0;
}

int LumCircularView::reportedLevel() const {
    return knob::truncatedLevel(level_);
}

double LumCircularView::pointerAngle() const {
    return knob::angleFor(level_, avgCount);
}

void LumCircularView::reportAfterScroll() {
    if (callBack) callBack(reportedLevel());
    endGesture();
}

void LumCircularView::paintEvent(QPaintEvent*) {
    if (!painted_) {
        // Not through updateLevel: at level 0 already it would skip the label and leave it blank
        // until the level changes.
        painted_ = true;
        showLevel(0);
    }
    const qreal side = std::min(width(), height());
    const qreal r = (side - 1) / 2;
    if (r <= 0) return;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (hasFocus()) {
        const QPointF c = QRectF(rect()).center();
        drawFocusRing(p, QRectF(c.x() - side / 2, c.y() - side / 2, side, side), side / 2);
    }
    p.translate(QRectF(rect()).center());
    // QPainter turns clockwise for positive degrees on screen; the angle runs counter-clockwise.
    p.rotate(-pointerAngle() * 180 / std::numbers::pi);
    const QColor tick = froColor.value_or(QColor(Qt::transparent));
    p.setPen(QPen(withAlpha(tick, 0.35), 0.5));
    p.drawLine(QPointF(0, 0), QPointF(r, 0));
    p.fillRect(QRectF(r - 8, -1, 8, 2), tick);
}

void LumCircularView::resizeEvent(QResizeEvent*) {
    label->setGeometry(rect());
}

void LumCircularView::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton) lastDragY_ = event->position().y();
}

void LumCircularView::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    if (!(event->buttons() & Qt::LeftButton)) return;
    const qreal y = event->position().y();
    const qreal dy = lastDragY_ ? y - *lastDragY_ : 0;
    lastDragY_ = y;
    if (!canWheel || dy == 0) return;
    beginGesture();
    stepLevel(-dy);  // screen y grows downward: dragging up turns the level up
}

void LumCircularView::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() != Qt::LeftButton) return;
    lastDragY_.reset();
    if (!canWheel) return;
    if (callBack) callBack(reportedLevel());
    if (turning_) releaseTimer_->start(kGestureEndAfterReleaseMs);
}

void LumCircularView::scrollStep(double direction) {
    if (!canWheel) return;
    beginGesture();
    stepLevel(direction);
    reportTimer_->start(kScrollReportDelayMs);  // restarted: one report per run of scroll events
}

void LumCircularView::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (knob::isPhaseMarker(*event)) return;
    scrollStep(event->angleDelta().y());
}

void LumCircularView::keyPressEvent(QKeyEvent* event) {
    const int step = arrowKeyStep(event->key());
    if (step == 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    scrollStep(step);
}

void pausePollWhileTurning(LumCircularView& knob, HardwarePoller& poll) {
    QObject::connect(&knob, &LumCircularView::gestureBegan, &poll,
                     [&poll] { poll.pause(HardwarePoller::Pause::knob); });
    QObject::connect(&knob, &LumCircularView::gestureEnded, &poll,
                     [&poll] { poll.resume(HardwarePoller::Pause::knob); });
}

}  // namespace h8::ui
