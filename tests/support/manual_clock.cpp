#include "manual_clock.h"

#include <optional>

namespace h8::test {

class ManualClock::Timer : public ClockTimer {
public:
    explicit Timer(ManualClock& clock) : clock_(clock) {}
    void start(std::chrono::milliseconds interval) override {
        interval_ = interval;
        due_ = clock_.now_ + interval;
    }
    void stop() override { due_.reset(); }
    bool isActive() const override { return due_.has_value(); }
    void setSingleShot(bool singleShot) override { singleShot_ = singleShot; }

    std::optional<std::chrono::nanoseconds> due() const { return due_; }
    void fire() {
        if (singleShot_) {
            due_.reset();
        } else {
            *due_ += std::max<std::chrono::nanoseconds>(interval_, std::chrono::nanoseconds(1));
        }
        emit timeout();
    }

private:
    ManualClock& clock_;
    std::chrono::nanoseconds interval_{};
    std::optional<std::chrono::nanoseconds> due_;
    bool singleShot_ = false;
};

std::unique_ptr<ClockTimer> ManualClock::createTimer() {
    auto timer = std::make_unique<Timer>(*this);
    timers_.append(timer.get());
    return timer;
}

void ManualClock::advance(std::chrono::nanoseconds by) {
    const std::chrono::nanoseconds target = now_ + by;
    for (;;) {
        timers_.removeAll(nullptr);
        Timer* next = nullptr;
        for (const QPointer<Timer>& t : timers_) {
            if (t && t->due() && *t->due() <= target && (!next || *t->due() < *next->due()))
                next = t;
        }
        if (!next) break;
        now_ = *next->due();
        next->fire();
    }
    now_ = target;
}

}  // namespace h8::test
