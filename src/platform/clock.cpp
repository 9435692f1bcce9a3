#include "platform/clock.h"

namespace h8 {
namespace {

class SystemTimer : public ClockTimer {
public:
    SystemTimer() {
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &ClockTimer::timeout);
    }
    void start(std::chrono::milliseconds interval) override { timer_.start(interval); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }
    void setSingleShot(bool singleShot) override { timer_.setSingleShot(singleShot); }

private:
    QTimer timer_;
};

}  // namespace

std::chrono::nanoseconds SystemClock::now() const {
    return std::chrono::steady_clock::now().time_since_epoch();
}

std::unique_ptr<ClockTimer> SystemClock::createTimer() {
    return std::make_unique<SystemTimer>();
}

}  // namespace h8
