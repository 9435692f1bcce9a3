#include "core/meter_clock.h"

#include "core/hardware_poller.h"

namespace h8 {

MeterClock::MeterClock(Clock& clock, HardwarePoller* poller, std::function<Shown()> show,
                       QObject* parent)
    : QObject(parent), timer_(clock.createTimer()), poller_(poller), show_(std::move(show)) {
    connect(timer_.get(), &ClockTimer::timeout, this, &MeterClock::tick);
    // Resting meters: a level that would move one starts their clock again.
    if (poller_) {
        connect(poller_, &HardwarePoller::ticked, this, [this] {
            if (resting_ && show_().changed) start();
        });
    }
}

MeterClock::~MeterClock() {
    if (poller_ && poller_->isCarried()) poller_->setCarried(false);
}

void MeterClock::start() {
    resting_ = false;
    quietTicks_ = 0;
    if (poller_) poller_->setCarried(true, kInterval);
    timer_->start(kInterval);
}

void MeterClock::stop() {
    timer_->stop();
    resting_ = false;
    if (poller_) poller_->setCarried(false);
}

bool MeterClock::isRunning() const {
    return timer_->isActive();
}

void MeterClock::rest() {
    timer_->stop();
    resting_ = true;
    if (poller_) poller_->setCarried(false);
}

void MeterClock::tick() {
    const Shown shown = show_();
    if (shown.changed) ++movingTicks_;
    if (!timer_->isActive()) return;  // driven by hand
    if (poller_) poller_->carriedTick();
    const bool idle = !shown.changed && shown.empty;
    quietTicks_ = idle ? quietTicks_ + 1 : 0;
    if (quietTicks_ >= kQuietTicksBeforeRest) rest();
}

}  // namespace h8
