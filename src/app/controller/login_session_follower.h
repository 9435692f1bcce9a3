// The panel across a suspend and across a switch of user.
//
// Suspend: the hardware poll rests while the machine sleeps. On waking, the crosspoints are
// read back from the interface (again for a few seconds while it answers nothing yet) and
// those that no longer hold the byte the panel last wrote to them are written again: an
// interface that lost power while the machine slept comes back silent. When the interface
// cannot be read at all, every crosspoint is written again. Then the poll goes on at once.
// An interface that re-enumerates on waking is an ordinary unplug and plug.
//
// Switch of user: while the panel's session is not the active one, another user's panel may
// own the interface; this panel lets go of it (as on an unplug) and says why, and binds it
// again, as on an arrival, when its session is active again. Main thread only.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace h8 {

class Clock;
class ClockTimer;
class LoginSession;
class NorvShareHelper;
class UsbInterface;
class ViewController;

class LoginSessionFollower : public QObject {
    Q_OBJECT
public:
    static constexpr int kWakeRetryMs = 250;
    static constexpr int kWakeAttempts = 12;  // 3 s for the interface to answer after a wake-up
    static constexpr unsigned kReadTimeoutMs = 500;

    // Letting go of the USB device and opening it again (releaseUSBDevice, reclaimUSBDevice).
    struct UsbClaim {
        std::function<void()> release;
        std::function<void()> reclaim;
    };

    // Follows `login`; works on `view` (its routing and poll), reads through `usb`, times the
    // retries with `clock` and logs to `store`. All must outlive the follower.
    LoginSessionFollower(LoginSession& login, ViewController& view, UsbInterface& usb, Clock& clock,
                         NorvShareHelper& store, UsbClaim claim, QObject* parent = nullptr);
    ~LoginSessionFollower() override;

    // Wake-ups whose crosspoint check has finished (for tests and automation).
    int resumeChecks() const { return resumeChecks_; }

signals:
    // The crosspoint check after a wake-up finished; `resent` crosspoints were written again.
    void resumeChecked(int resent);

private:
    void sleepChanged(bool asleep);
    void activeChanged(bool active);
    void readBack();
    void finishWake();

    LoginSession& login_;
    ViewController& view_;
    UsbInterface& usb_;
    NorvShareHelper& store_;
    UsbClaim claim_;
    std::unique_ptr<ClockTimer> retry_;
    int attempts_ = 0;
    bool asleep_ = false;
    int resumeChecks_ = 0;
};

}  // namespace h8
