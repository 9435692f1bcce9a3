#pragma once

#include <QAbstractButton>
#include <QString>
#include <functional>

#include "ui/widgets/lum_label.h"
#include "ui/widgets/mouse_move_event.h"

namespace h8::ui {

// A crosspoint of the routing grid: a flat, checkable 25 × 20 button that shows its "on" image
// while checked, reports hovering, shows its level label while hovered and checked (also right
// after a click switches it on, and never once it is off), and changes its level with the
// scroll wheel while checked. It never takes the keyboard itself: its grid does, and marks the
// button its keys act on with the focus ring.
class HoverButton : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int kWidth = 25;
    static constexpr int kHeight = 20;

    explicit HoverButton(QWidget* parent = nullptr);

    std::function<void(MouseMoveEvent)> observer;
    // Runs after every wheel step with the new volume in place; the owner sends it to the device.
    std::function<void(HoverButton*)> applyVolume;
    float volume = 100.0f;  // crosspoint level, 0..100
    int row = 0;            // source number, 1-based
    int col = 0;            // destination number, 1-based
    MouseMoveEvent hoverState = MouseMoveEvent::exited;
    // Level text, 25 × 20 at (0, 0), 8 pt white centred; hidden until shown. It lets the mouse
    // through to the button.
    LumLabel* const label;

    // Name of the image (see images.h) drawn over the whole button while it is checked.
    void setOnImage(const QString& imageName);
    QString onImage() const { return onImage_; }

    // The grid's path highlight: gray at alpha 0.3 behind the button.
    void setHighlighted(bool highlighted);
    bool isHighlighted() const { return highlighted_; }

    void setLabelShown(bool shown);
    bool isLabelShown() const;

    // The grid's keyboard cell: draws the focus ring over the button.
    void setFocusMarked(bool marked);
    bool isFocusMarked() const { return focusMarked_; }

    // Turns the level as a wheel event of `angleDeltaY` (Qt's eighths of a degree) does: by
    // volumeStep(wheelDelta(angleDeltaY)), kept within 0..100, then hands it to applyVolume.
    // The grid's level keys come here too. Only a checked crosspoint has a level to change:
    // false, and nothing happens, when unchecked.
    bool scrollLevel(int angleDeltaY);

    // Level change for one wheel event of vertical delta d: +2 when d > 10, +1 when 0 < d <= 10,
    // -1 when -10 <= d <= 0 (a zero delta lowers the level), -2 when d < -10.
    static int volumeStep(double d);
    // Qt reports the wheel in eighths of a degree, 120 per notch. Dividing by 12 makes one notch
    // a delta of 10 (a step of 1); an event carrying more than one notch, as a fast spin or a
    // coarse touchpad swipe gives, steps by 2.
    static double wheelDelta(int angleDeltaY) { return angleDeltaY / 12.0; }

    QSize sizeHint() const override { return {kWidth, kHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QString onImage_;
    bool highlighted_ = false;
    bool focusMarked_ = false;
};

}  // namespace h8::ui
