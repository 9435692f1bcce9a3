// The level meters' clock: twenty ticks a second while the meters show something. Meters that
// stay empty for a second (silence, no sound server) rest: the clock stops, and each tick of the
// hardware poll looks at the levels and wakes it when a meter would move. While it runs, the
// poll rides on it (HardwarePoller::setCarried), so the thread wakes twenty times a second and
// not twenty-six; resting or stopped, the poll runs on its own. Main thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/clock.h"

namespace h8 {

class HardwarePoller;

class MeterClock : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kInterval{50};
    static constexpr int kQuietTicksBeforeRest = 20;

    // What showing the levels did: whether a meter's drawn width changed, and whether the
    // meters show nothing at all.
    struct Shown {
        bool changed = false;
        bool empty = false;
    };
    // `show` moves the meters (the panel's); `poller` (may be null) rides on the clock.
    MeterClock(Clock& clock, HardwarePoller* poller, std::function<Shown()> show,
               QObject* parent = nullptr);
    ~MeterClock() override;

    // Runs the meters (awake), the poll riding on them.
    void start();
    // Stops the meters altogether (nothing to show them on): the poll runs on its own.
    void stop();
    bool isRunning() const;
    bool isResting() const { return resting_; }
    // Ticks that moved a meter, since the clock was made.
    int movingTicks() const { return movingTicks_; }

    // One meter tick: shows the levels and, when the clock runs, carries the poll and counts
    // quiet ticks towards resting. Called by hand (the clock stopped) it only shows the levels.
    void tick();

private:
    void rest();

    std::unique_ptr<ClockTimer> timer_;
    QPointer<HardwarePoller> poller_;
    std::function<Shown()> show_;
    int quietTicks_ = 0;
    int movingTicks_ = 0;
    bool resting_ = false;
};

}  // namespace h8
