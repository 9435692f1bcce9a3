#include "core/hardware_monitor.h"

#include "core/device_controls.h"
#include "core/share_helper.h"
#include "platform/user_defaults.h"

namespace h8 {

HardwareMonitor::HardwareMonitor(UsbInterface& usb, NorvShareHelper& store, UserDefaults& defaults,
                                 QObject* parent)
    : QObject(parent), usb_(usb), store_(store), defaults_(defaults) {}

std::optional<bool> HardwareMonitor::poll() {
    const std::optional<HardwarePoll> read = pollHardwareState(usb_);
    if (!read) return std::nullopt;
    if (!read->answered) return false;
    NorvShareHelper& s = store_;
    // The input mutes follow the panel's own record, the headphone mute follows the device.
    const int mic1 = static_cast<int>(defaults_.integerForKey(kMicMute1Key));
    if (mic1 != s.micMuteState) s.micMuteState = mic1;
    const int mic2 = static_cast<int>(defaults_.integerForKey(kMicMute2Key));
    if (mic2 != s.mic2MuteState) s.mic2MuteState = mic2;
    if (read->headphoneMute && *read->headphoneMute != s.hpMuteState)
        s.hpMuteState = *read->headphoneMute;

    publish(read->otgConnected);
    return true;
}

bool HardwareMonitor::setInputMute(int input, bool muted) {
    const bool ok = h8::setInputMute(input, muted ? 1 : 0);
    (input == 1 ? store_.micMuteState : store_.mic2MuteState) = muted ? 1 : 0;
    publish(state_.otgConnected);
    return ok;
}

bool HardwareMonitor::setHeadphoneMute(bool muted) {
    const bool ok = h8::setHeadphoneMute(muted ? 1 : 0);
    store_.hpMuteState = muted ? 1 : 0;
    publish(state_.otgConnected);
    return ok;
}

bool HardwareMonitor::setOtgVolume(int percent) {
    const bool ok = setOtgOutputVolume(percent);
    publish(state_.otgConnected);
    return ok;
}

void HardwareMonitor::publish(std::optional<bool> otgConnected) {
    const NorvShareHelper& s = store_;
    HardwareState next = state_;
    next.input1Gain = s.micIn1Volume;
    next.input2Gain = s.micIn2Volume;
    next.headphoneLevel = s.micOutVolume;
    next.otgVolume = s.OTGOut34Volume;
    next.phantom1 = s.mic48VState;
    next.phantom2 = s.mic248VState;
    next.instrument1 = s.micInstState;
    next.instrument2 = s.mic2InstState;
    next.inputType1 = s.micInChangeState;
    next.inputType2 = s.mic2InChangeState;
    next.inputMute1 = s.micMuteState;
    next.inputMute2 = s.mic2MuteState;
    next.headphoneMute = s.hpMuteState;
    next.otgConnected = otgConnected;
    const bool changed = next != state_;
    state_ = next;
    emit updated(state_);
    if (changed) emit stateChanged(state_);
}

}  // namespace h8
