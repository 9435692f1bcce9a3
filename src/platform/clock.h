// Time for the parts of the program that schedule work (the hardware poll, the meters, delayed
// menu updates): a monotonic now() and timers, behind an interface so that tests can move time
// themselves instead of waiting for it.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <memory>

namespace h8 {

// A timer of a Clock: repeating unless single-shot; timeout() on the thread that created it.
class ClockTimer : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void start(std::chrono::milliseconds interval) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual void setSingleShot(bool singleShot) = 0;

signals:
    void timeout();
};

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time since an arbitrary start.
    virtual std::chrono::nanoseconds now() const = 0;
    virtual std::unique_ptr<ClockTimer> createTimer() = 0;
};

// The real time: QTimer (precise to the millisecond) and the steady clock.
class SystemClock : public Clock {
public:
    std::chrono::nanoseconds now() const override;
    std::unique_ptr<ClockTimer> createTimer() override;
};

}  // namespace h8
