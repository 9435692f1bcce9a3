// The main panel: all sections of the window. It shows the routing model as chips and grids
// (its route chips follow the model), shows each hardware readout of the poll, and moves the
// level meters on their clock (MeterClock: twenty times a second while they show something,
// the poll riding on it).
#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "core/hardware_monitor.h"
#include "core/meter_clock.h"
#include "ui/matrix/matrix_registry.h"
#include "ui/panel_context.h"

namespace h8 {
class RouteChips;
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
    // Builds every section, shows the routing's routes as chips (it sends nothing for them:
    // bringing the interface in line is the bind's job), follows the poll's readouts, lets the
    // turning OTG knob pause the poll and starts the meters.
    explicit NorvMainContainView(const PanelContext& context, QWidget* parent = nullptr);
    ~NorvMainContainView() override;

    void timerFired();  // one meter tick (see MeterClock::tick)
    MeterClock& meters() { return meters_; }
    // Shows a hardware readout on the controls, sending nothing back.
    void showHardwareState(const HardwareState& state);
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
    // The destination rows and pairs, in destination order.
    const MatrixRegistry& registry() const { return registry_; }
    RoutingModel& routing() const { return context_.routing; }

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

    PanelContext context_;
    MatrixRegistry registry_;
    std::unique_ptr<RouteChips> chips_;
    std::optional<HardwareState> shownState_;  // the readout the controls show
    bool metersPaintDirectly_ = true;
    MeterClock meters_;
};

}  // namespace h8::ui
