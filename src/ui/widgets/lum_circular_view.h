#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QWheelEvent;

namespace h8 {
class Clock;
class ClockTimer;
class HardwarePoller;
}  // namespace h8

namespace h8::ui {

class LumLabel;

// Arithmetic and input helpers shared by the two volume knobs.
namespace knob {

// Pointer angle in radians (counter-clockwise from 3 o'clock) of level v on a scale of avgCount
// steps: 4π/3 at 0, π/2 at half scale, −π/3 at full scale — a clockwise sweep of 300° with the
// gap at the bottom. A scale of zero or fewer steps leaves the pointer at the start.
double angleFor(double v, int avgCount);

// The level one step up (direction > 0) or down (direction ≤ 0) from `level`, kept within
// [0, avgCount]. Levels are counted in whole steps, so any number of steps from 0 lands exactly on
// avgCount with no rounding drift.
double steppedLevel(double level, double direction, int avgCount);

// v truncated toward zero; NaN gives 0 and values beyond int saturate.
int truncatedLevel(double v);

// Scroll-phase markers (the begin/end events that touchpads send with no movement) carry no
// user input and must not step a knob.
bool isPhaseMarker(const QWheelEvent& event);

}  // namespace knob

// The volume knob of the input and output control panels.
//
// The level is a number of steps from 0 to avgCount. Each scroll event steps once (up when the
// vertical delta is positive, down otherwise, including a purely horizontal scroll); a drag with
// the left button steps once per move event that has vertical movement (upwards = louder). The
// knob shows the level as a number and a rotating pointer; the owner panel draws the knob image
// behind it.
//
// Turning the knob is a gesture: gestureBegan() with its first step, gestureEnded() once it is
// over (the owner pauses the hardware poll in between, so that a readout does not overwrite what
// the user is dialling in). A run of scroll events reports once, 70 ms after the last one, and
// ends the gesture; a drag reports on release and ends the gesture 1 s later.
//
// The arrow keys turn the knob as the wheel does, one step per key press (Up and Right louder,
// Down and Left softer), with the same pause and report. A knob with the keyboard draws the
// focus ring around its face; one that cannot turn should not take the focus (the owner sets
// its focus policy).
//
// The first paint shows level 0 whatever the owner set before it; the owner's next hardware
// readout shows the real level.
class LumCircularView : public QWidget {
    Q_OBJECT

public:
    // The report and gesture delays run on `clock`, which must outlive the knob.
    explicit LumCircularView(Clock& clock, QWidget* parent = nullptr);
    ~LumCircularView() override;

    std::function<void(int level)> callBack;
    bool canWheel = true;  // false: scroll, drag and release do nothing
    int avgCount = 100;    // steps of the full scale; set before any level
    std::optional<QColor> bgCcolor = QColor(Qt::black);  // track colour; the owner's image draws it
    std::optional<QColor> froColor = QColor(230, 150, 162);  // the pointer's tick
    LumLabel* const label;                                   // the level as a number

    // Shows level v (a real number of steps; not clamped).
    void updateLevel(double v);
    // One step up (direction > 0) or down (direction ≤ 0), clamped to the scale.
    void stepLevel(double direction);

    double progress() const;      // level / avgCount
    int reportedLevel() const;    // the level truncated toward zero
    double pointerAngle() const;  // radians, see knob::angleFor
    bool isTurning() const { return turning_; }

signals:
    void gestureBegan();
    void gestureEnded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One step of a scroll run (wheel or arrow key): pauses the poll, steps and (re)schedules
    // the report.
    void scrollStep(double direction);
    void reportAfterScroll();
    void beginGesture();
    void endGesture();
    // Sets the level and its number, without scheduling a repaint.
    void showLevel(double v);

    double level_ = 0;
    bool painted_ = false;
    std::optional<qreal> lastDragY_;
    std::unique_ptr<ClockTimer> reportTimer_;
    std::unique_ptr<ClockTimer> releaseTimer_;
    bool turning_ = false;
};

// Pauses `poll` while `knob` is turned (from its first step until its gesture ends).
void pausePollWhileTurning(LumCircularView& knob, HardwarePoller& poll);

}  // namespace h8::ui
