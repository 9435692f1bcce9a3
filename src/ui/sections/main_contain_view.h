// The main panel: all sections of the window and the two clocks that keep them in step with
// the interface — the level meters twenty times a second and the hardware-state poll six times
// a second. It shows the routing model as chips and grids (its route chips follow the model).
//
// Meters that show nothing and stay empty for a second (silence, no sound server) stop their
// clock; the poll tick then looks at the levels and starts it again when a meter would move.
//
// While the meter clock runs, the poll rides on it: the meter tick nearest to each poll's due
// time runs the poll as well (six a second on average, 150 or 200 ms apart), so that the main
// thread wakes 20 times a second and not 26; each wake costs the event loop's round and cold
// caches. The poll's own timer, `stateTimer`, runs while the meters rest.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace h8 {
class RouteChips;
class RoutingModel;
}  // namespace h8

namespace h8::ui {

class NorvMicINView;
class NorvHardwareOutView;
class NorvBLView;
class NorvBRView;
class NorvBottomView;
class NorvTMidView;
class NorvBMidView;

class NorvMainContainView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMeterIntervalMs = 50;
    static constexpr int kPollIntervalMs = 1000 / 6;
    static constexpr int kPollFailuresBeforeBackOff = 3;
    static constexpr int kBackOffTicks = 12;  // one read every 2 s
    static constexpr int kQuietTicksBeforeRest = 20;

    // Builds every section, starts both clocks and shows `routing`'s routes as chips (it sends
    // nothing for them: bringing the interface in line is the bind's job).
    explicit NorvMainContainView(RoutingModel& routing, QWidget* parent = nullptr);
    ~NorvMainContainView() override;

    void timerFired();       // moves the meters
    void timerStateFired();  // polls the hardware state
    // True while the meter clock is stopped because the meters show nothing.
    bool metersResting() const { return metersResting_; }
    // True while the poll reads only every kBackOffTicks-th tick (the interface stopped
    // answering).
    bool pollIsBackedOff() const { return silentTicks_ >= kPollFailuresBeforeBackOff; }
    void pushMuteStates();
    // Shows the mute states that the store holds (after a preset import sent them).
    void showMuteStates();
    void recoverLastBuildUI();

    // Every control that takes the keyboard, in the order Tab visits them: section by section
    // in reading order (upper row: inputs, upper matrix, outputs; lower row: playback strips,
    // lower matrix, mixer strips). The matrix panels list their rows and their grids; Tab skips
    // whichever of the two is hidden.
    QList<QWidget*> tabStops() const;

    // How a meter tick shows the levels that moved: painted straight into the window and
    // flushed to the screen at once (the default), or by a repaint of each bar that the
    // window's next repaint pass carries out. The bars fall back to the repaint by themselves
    // wherever painting straight in would not show what their repaint draws (LevelBar::setLevel).
    void setMetersPaintDirectly(bool direct) { metersPaintDirectly_ = direct; }
    bool metersPaintDirectly() const { return metersPaintDirectly_; }

    RouteChips* chips() const { return chips_.get(); }
    RoutingModel& routing() const { return routing_; }

    QTimer* timer;
    QTimer* stateTimer;
    NorvMicINView* micInView;
    NorvHardwareOutView* outputView;
    NorvBLView* botL;
    NorvBRView* botR;
    NorvBottomView* bottomVew;
    NorvTMidView* tMidView;
    NorvBMidView* bMidView;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Gives the 16 bars the engines' levels; true when a bar's drawn width changed.
    bool showLevels();
    bool metersEmpty() const;

    // The poll on the meter clock: runs it when its due time is less than half a meter tick
    // away.
    void pollIfDue();
    void restMeters();
    void wakeMeters();

    RoutingModel& routing_;
    std::unique_ptr<RouteChips> chips_;
    QElapsedTimer clock_;
    qint64 nextPollNs_ = 0;
    int quietTicks_ = 0;
    bool metersResting_ = false;
    bool metersPaintDirectly_ = true;
    int silentTicks_ = 0;
    int skipped_ = 0;
};

}  // namespace h8::ui
