#pragma once

#include <QColor>
#include <QWidget>
#include <functional>
#include <optional>

namespace h8::ui {

// The small volume knob of an output channel strip.
//
// The level is a number of steps from 0 to avgCount, drawn as a pointer over the "volume" knob
// image with a track arc (bgCcolor) and a level arc (froColor) around it, 300° open at the bottom.
// Every step is reported at once: each scroll event steps (up when the vertical delta is
// positive, down otherwise); a left-button drag steps on every third move event that has vertical
// movement (upwards = louder), so dragging is three times less sensitive than scrolling. The
// arrow keys step as one scroll event does (Up and Right louder, Down and Left softer); with the
// keyboard the knob draws the focus ring around its face. The knob has no pause logic: it does
// not touch the hardware poll.
class LumVolumeVircleView : public QWidget {
    Q_OBJECT

public:
    explicit LumVolumeVircleView(QWidget* parent = nullptr);

    std::function<void(int level)> callBack;
    int avgCount = 100;  // steps of the full scale; set before any level
    std::optional<QColor> bgCcolor = QColor(Qt::black);      // track arc
    std::optional<QColor> froColor = QColor(230, 150, 162);  // level arc
    int calculCount = 0;  // drag moves counted towards the next step

    // Shows level v (a real number of steps; not clamped). Reports nothing.
    void updateLevel(double v);
    // One step up (direction > 0) or down (direction ≤ 0), clamped to the scale, then reports
    // the new level.
    void stepLevel(double direction);

    double progress() const;    // level / avgCount
    int reportedLevel() const;  // the level truncated toward zero
    // Radians: the shared knob angle (see knob::angleFor) plus a fixed correction of 2/width,
    // taken at the current width.
    double pointerAngle() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    double level_ = 0;
    std::optional<qreal> lastDragY_;
};

}  // namespace h8::ui
