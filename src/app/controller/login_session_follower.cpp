#include "login_session_follower.h"

#include <array>
#include <optional>

#include "core/hardware_poller.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_interface.h"
#include "core/vendor_requests.h"
#include "platform/clock.h"
#include "platform/dbus/login_session.h"
#include "platform/diagnostics.h"
#include "view_controller.h"

namespace h8 {

LoginSessionFollower::LoginSessionFollower(LoginSession& login, ViewController& view,
                                           UsbInterface& usb, Clock& clock, NorvShareHelper& store,
                                           UsbClaim claim, QObject* parent)
    : QObject(parent),
      login_(login),
      view_(view),
      usb_(usb),
      store_(store),
      claim_(std::move(claim)),
      retry_(clock.createTimer()) {
    retry_->setSingleShot(true);
    connect(retry_.get(), &ClockTimer::timeout, this, &LoginSessionFollower::readBack);
    connect(&login_, &LoginSession::prepareForSleep, this, &LoginSessionFollower::sleepChanged);
    connect(&login_, &LoginSession::activeChanged, this, &LoginSessionFollower::activeChanged);
    if (!login_.isActive()) activeChanged(false);
}

LoginSessionFollower::~LoginSessionFollower() = default;

void LoginSessionFollower::sleepChanged(bool asleep) {
    if (asleep == asleep_) return;
    asleep_ = asleep;
    retry_->stop();
    if (asleep) {
        // Reads of an interface that is going down only fail (and back the poll off).
        view_.poller().pause(HardwarePoller::Pause::asleep);
        diag("The machine is going to sleep: the hardware poll rests");
        return;
    }
    if (!view_.isBound() || !usb_.isAttached() || !view_.isSessionActive()) {
        view_.poller().resume(HardwarePoller::Pause::asleep);
        return;
    }
    diag("The machine woke up: reading the crosspoints back");
    attempts_ = 0;
    readBack();
}

void LoginSessionFollower::readBack() {
    // Unplugged, or gone to sleep again, meanwhile: the next bind or wake-up sees to it.
    if (asleep_) return;
    if (!view_.isBound() || !usb_.isAttached()) return finishWake();
    ++attempts_;
    RoutingModel& routing = view_.routing();
    std::array<std::optional<uint8_t>, kMatrixCrosspoints> read{};
    int answered = 0, tried = 0;
    {
        // An interface that does not answer yet must not hold the window a second per read.
        const UsbInterface::ShortTimeout shortWait(usb_, kReadTimeoutMs);
        for (int col = 1; col <= kMatrixDestinations; ++col) {
            for (int row = 1; row <= kMatrixSources; ++row) {
                if (!routing.lastSent(row, col)) continue;
                // Still waking up: try again shortly rather than fail 144 reads.
                if (tried > 0 && answered == 0) break;
                ++tried;
                uint8_t gain = 0;
                if (NorvaltUSBAudioGetMixer(sourceCodeForRow(row - 1),
                                            static_cast<uint16_t>(col - 1), gain)) {
                    read[RoutingModel::index(row, col)] = gain;
                    ++answered;
                }
            }
        }
    }
    if (tried > 0 && answered == 0 && attempts_ < kWakeAttempts) {
        retry_->start(std::chrono::milliseconds(kWakeRetryMs));
        return;
    }
    // Compared with the byte written last (0x80 after a commit, 0x81 after a level write at
    // full level: the same to the ear, not the same byte), not with one worked out anew. A
    // crosspoint that could not be read is written again.
    int known = 0, resent = 0;
    for (int col = 1; col <= kMatrixDestinations; ++col) {
        for (int row = 1; row <= kMatrixSources; ++row) {
            const std::optional<uint8_t> sent = routing.lastSent(row, col);
            if (!sent) continue;
            ++known;
            const std::optional<uint8_t>& now = read[RoutingModel::index(row, col)];
            if (now && *now == *sent) continue;
            routing.resend(row, col);
            ++resent;
        }
    }
    const QString line =
        answered == 0 && known > 0
            ? QStringLiteral(
                  "After the wake-up the crosspoints could not be read back: re-sent "
                  "all %1")
                  .arg(resent)
            : QStringLiteral(
                  "After the wake-up %1 of %2 crosspoints differed from what was "
                  "sent: re-sent %1")
                  .arg(resent)
                  .arg(known);
    diag(line.toStdString());
    store_.logInfo(line);
    finishWake();
    ++resumeChecks_;
    emit resumeChecked(resent);
}

void LoginSessionFollower::finishWake() {
    HardwarePoller& poller = view_.poller();
    poller.resume(HardwarePoller::Pause::asleep);
    if (!poller.isPaused()) poller.pollNow();
}

void LoginSessionFollower::activeChanged(bool active) {
    if (!active) {
        // A wake-up check in progress reads nothing more: the interface is not ours now.
        if (retry_->isActive()) {
            retry_->stop();
            view_.poller().resume(HardwarePoller::Pause::asleep);
        }
        if (claim_.release) claim_.release();
        view_.setSessionActive(false);
    } else {
        view_.setSessionActive(true);
        if (claim_.reclaim) claim_.reclaim();
    }
}

}  // namespace h8
