// A clock that moves only when the test moves it: advance() runs the timers that fall due on
// the way, in order, each at its own time.
#pragma once

#include <QList>
#include <QPointer>
#include <chrono>

#include "platform/clock.h"

namespace h8::test {

class ManualClock : public Clock {
public:
    std::chrono::nanoseconds now() const override { return now_; }
    std::unique_ptr<ClockTimer> createTimer() override;

    // Moves time forward by `by`, firing every timer that falls due on the way (a repeating one
    // as often as its interval fits).
    void advance(std::chrono::nanoseconds by);
    // Moves time forward in steps of `step` until `done` holds or `limit` has passed; returns
    // whether it holds.
    template <typename Done>
    bool advanceUntil(Done done, std::chrono::nanoseconds step, std::chrono::nanoseconds limit) {
        for (std::chrono::nanoseconds moved{}; !done() && moved < limit; moved += step)
            advance(step);
        return done();
    }

private:
    class Timer;
    std::chrono::nanoseconds now_{std::chrono::hours(1)};
    QList<QPointer<Timer>> timers_;
};

}  // namespace h8::test
