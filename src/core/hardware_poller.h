// The hardware poll's schedule: six reads a second of the interface's state (HardwareMonitor),
// paused while the user turns a knob, while a preset is applied and while no interface is
// bound, and backed off when the interface stops answering. It runs on its own timer, or, while
// the meters move, rides on their clock (MeterClock) so that the thread wakes for both at once.
// Main thread only.
#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <optional>
#include <set>

#include "platform/clock.h"

namespace h8 {

class HardwareMonitor;
class NorvShareHelper;

class HardwarePoller : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::nanoseconds kPeriod{1'000'000'000 / 6};
    static constexpr int kPollFailuresBeforeBackOff = 3;
    static constexpr int kBackOffTicks = 12;  // one read every 2 s

    // Why the poll is paused; it reads while there is no reason.
    // `hidden`: nobody looks (the window is not exposed); the timer is stopped too, and a
    // reader asks with readNow(). `asleep`: the computer is going to sleep.
    enum class Pause { knob, preset, unbound, hidden, asleep };

    // Reads through `monitor` and keeps the store's poll gate (`canReadStatue`: open while the
    // poll is not paused); all must outlive the poller.
    HardwarePoller(HardwareMonitor& monitor, NorvShareHelper& store, Clock& clock,
                   QObject* parent = nullptr);
    ~HardwarePoller() override;

    HardwareMonitor& monitor() const { return monitor_; }

    // The poll's own timer: started (unless the poll rides on another clock) and stopped.
    void start();
    void stop();
    bool ownTimerActive() const;

    void pause(Pause why);
    void resume(Pause why);
    bool isPaused() const { return !pauses_.empty(); }

    // One tick now: ticked(), then (unless backed off) a read.
    void tick();
    // One read now for a reader that wants the state while the poll only rests because nobody
    // looks (`hidden`); as poll() otherwise (nothing while a knob turns, a preset is applied or
    // nothing is bound). The answer of the read: absent when nothing was read.
    std::optional<bool> readNow();
    // A read now, also when backed off, and the back-off forgotten: after a wake-up the
    // interface answers again and the panel should show its state at once.
    void pollNow();
    // True while only every kBackOffTicks-th tick reads (the interface stopped answering).
    bool isBackedOff() const { return silentTicks_ >= kPollFailuresBeforeBackOff; }

    // While carried, the poll's own timer is off and carriedTick() (the carrier's tick) runs a
    // tick when its due time is less than half a carrier tick away: six a second on average,
    // 150 or 200 ms apart on a 50 ms clock. Carried no more, the own timer runs again.
    void setCarried(bool carried, std::chrono::nanoseconds carrierInterval = {});
    bool isCarried() const { return carried_; }
    void carriedTick();

signals:
    // At the start of every tick, also a backed-off one (the resting meters look then).
    void ticked();

private:
    HardwareMonitor& monitor_;
    NorvShareHelper& store_;
    Clock& clock_;
    std::unique_ptr<ClockTimer> timer_;
    std::set<Pause> pauses_;
    bool carried_ = false;
    std::chrono::nanoseconds carrierInterval_{};
    std::chrono::nanoseconds nextPoll_{};
    int silentTicks_ = 0;
    int skipped_ = 0;
};

}  // namespace h8
