#include "core/hardware_poller.h"

#include <algorithm>

#include "core/hardware_monitor.h"
#include "core/share_helper.h"

namespace h8 {

HardwarePoller::HardwarePoller(HardwareMonitor& monitor, NorvShareHelper& store, Clock& clock,
                               QObject* parent)
    : QObject(parent),
      monitor_(monitor),
      store_(store),
      clock_(clock),
      timer_(clock.createTimer()) {
    connect(timer_.get(), &ClockTimer::timeout, this, &HardwarePoller::tick);
}

HardwarePoller::~HardwarePoller() = default;

void HardwarePoller::start() {
    if (!carried_) timer_->start(std::chrono::duration_cast<std::chrono::milliseconds>(kPeriod));
}

void HardwarePoller::stop() {
    timer_->stop();
}

bool HardwarePoller::ownTimerActive() const {
    return timer_->isActive();
}

void HardwarePoller::pause(Pause why) {
    pauses_.insert(why);
    store_.canReadStatue = false;
}

void HardwarePoller::resume(Pause why) {
    pauses_.erase(why);
    store_.canReadStatue = pauses_.empty();
}

std::optional<bool> HardwarePoller::readNow() {
    const bool onlyHidden = pauses_.size() == 1 && pauses_.count(Pause::hidden) == 1;
    if (onlyHidden) store_.canReadStatue = true;
    const std::optional<bool> answered = monitor_.poll();
    if (onlyHidden) store_.canReadStatue = false;
    return answered;
}

void HardwarePoller::tick() {
    emit ticked();
    // An interface that stopped answering costs a short time-out per read: after
    // kPollFailuresBeforeBackOff silent ticks in a row only every kBackOffTicks-th tick reads,
    // until one answers.
    if (isBackedOff() && ++skipped_ < kBackOffTicks) return;
    skipped_ = 0;
    const std::optional<bool> answered = monitor_.poll();
    if (!answered) return;
    silentTicks_ = *answered ? 0 : silentTicks_ + 1;
}

void HardwarePoller::pollNow() {
    silentTicks_ = 0;
    skipped_ = 0;
    tick();
}

void HardwarePoller::setCarried(bool carried, std::chrono::nanoseconds carrierInterval) {
    carried_ = carried;
    carrierInterval_ = carrierInterval;
    if (carried) {
        timer_->stop();
        nextPoll_ = clock_.now() + kPeriod;
    } else {
        timer_->start(std::chrono::duration_cast<std::chrono::milliseconds>(kPeriod));
    }
}

void HardwarePoller::carriedTick() {
    const std::chrono::nanoseconds halfTick = carrierInterval_ / 2;
    const std::chrono::nanoseconds now = clock_.now();
    if (now + halfTick < nextPoll_) return;
    // The next one a period after this one's due time; after a stall (a long preset import, a
    // suspended machine) a period from now, not a burst of the missed ones.
    nextPoll_ = std::max(nextPoll_ + kPeriod, now + kPeriod - halfTick);
    tick();
}

}  // namespace h8
