#include "core/device_controls.h"

#include <algorithm>

#include "core/notification_names.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"

namespace h8 {
namespace {

int storedSwitch(const char* key) {
    return UserDefaults::standard().integerForKey(key) == 1 ? 1 : 0;
}

bool sendOtgLevel(int percent) {
    const uint8_t wire = otgVolumeLevel(percent) ^ 0xFF;  // the device stores levels inverted
    const bool ok3 = NorvaltUSBAudioSetVolume(0, 3, wire);
    const bool ok4 = NorvaltUSBAudioSetVolume(0, 4, wire);
    return ok3 && ok4;
}

bool sendHeadphoneMute(int m) {
    const bool ok1 = NorvaltUSBAudioSetMute(0, 1, static_cast<uint8_t>(m));
    const bool ok2 = NorvaltUSBAudioSetMute(0, 2, static_cast<uint8_t>(m));
    return ok1 && ok2;
}

}  // namespace

bool setInputMute(int input, int state) {
    const int m = state & 1;
    const bool ok = NorvaltUSBAudioSetMute(1, static_cast<uint8_t>(input), static_cast<uint8_t>(m));
    UserDefaults::standard().setInteger(input == 1 ? kMicMute1Key : kMicMute2Key, m);
    return ok;
}

bool setHeadphoneMute(int state) {
    const int m = state & 1;
    const bool ok = sendHeadphoneMute(m);
    UserDefaults::standard().setInteger(kHeadphoneMuteKey, m);
    return ok;
}

uint8_t otgVolumeLevel(int percent) {
    return static_cast<uint8_t>(static_cast<int>(percent * 127.0 / 100.0 + 0.5));
}

bool setOtgOutputVolume(int percent) {
    NorvShareHelper& store = NorvShareHelper::shared();
    UserDefaults::standard().setInteger(kOtgOutVolumeKey, percent);
    store.otgratio = static_cast<float>(percent / 100.0);
    const bool ok = sendOtgLevel(percent);
    store.OTGOut34Volume = percent;
    return ok;
}

InputMutes restoreInputMutes() {
    InputMutes m{storedSwitch(kMicMute1Key), storedSwitch(kMicMute2Key)};
    NorvaltUSBAudioSetMute(1, 1, static_cast<uint8_t>(m.input1));
    NorvaltUSBAudioSetMute(1, 2, static_cast<uint8_t>(m.input2));
    return m;
}

OutputSettings restoreOutputSettings() {
    NorvShareHelper& store = NorvShareHelper::shared();
    OutputSettings s;
    // A hand-edited value outside the knob's range would send a level byte the interface
    // does not have.
    s.otgVolume = static_cast<int>(
        std::clamp<qint64>(UserDefaults::standard().integerForKey(kOtgOutVolumeKey), 0, 100));
    store.OTGOut34Volume = s.otgVolume;
    store.otgratio = static_cast<float>(s.otgVolume / 100.0);
    sendOtgLevel(s.otgVolume);
    s.headphoneMute = storedSwitch(kHeadphoneMuteKey);
    sendHeadphoneMute(s.headphoneMute);
    return s;
}

std::optional<HardwarePoll> pollHardwareState(UsbInterface& usb) {
    NorvShareHelper& store = NorvShareHelper::shared();
    // Six ticks a second: each progress line is written when it differs from the previous
    // tick's (the poll pausing and resuming shows; the same four lines forever do not).
    static const QString channels[] = {QStringLiteral("poll1"), QStringLiteral("poll2"),
                                       QStringLiteral("poll3"), QStringLiteral("poll4")};
    const auto progress = [&store](int step, const char* text) {
        store.logInfoIfChanged(channels[step - 1], QString::fromUtf8(text));
    };
    progress(1, "开始读取硬件数据");
    if (!store.canReadStatue) {
        for (int step = 2; step <= 4; ++step) progress(step, "");
        return std::nullopt;
    }
    progress(2, "可以读取硬件数据");
    const UsbInterface::ShortTimeout shortWait(usb, kPollTimeoutMs);
    HardwarePoll poll;
    if (!store.getHardWareState()) {
        poll.answered = false;
        for (int step = 3; step <= 4; ++step) progress(step, "");
        return poll;
    }
    progress(3, "读取到硬件数据输入音量数据");
    if (store.isHasOTGMax) {
        uint8_t otg = 0;
        NorvaltUSBAudioGetOTG(1, otg);
        poll.otgConnected = otg == 1;
    }
    progress(4, "更新到界面");
    uint8_t hpMute = 0;
    if (NorvaltUSBAudioGetMute(0, 1, hpMute)) poll.headphoneMute = hpMute;
    return poll;
}

}  // namespace h8

namespace h8 {

MuteStates pushMuteStates() {
    NorvShareHelper& store = NorvShareHelper::shared();
    UserDefaults& defaults = UserDefaults::standard();
    const MuteStates m{store.micMuteState == 1 ? 1 : 0, store.mic2MuteState == 1 ? 1 : 0,
                       store.hpMuteState == 1 ? 1 : 0};
    NorvaltUSBAudioSetMute(1, 1, static_cast<uint8_t>(m.input1));
    defaults.setInteger(kMicMute1Key, m.input1);
    NorvaltUSBAudioSetMute(1, 2, static_cast<uint8_t>(m.input2));
    defaults.setInteger(kMicMute2Key, m.input2);
    sendHeadphoneMute(m.headphones);
    defaults.setInteger(kHeadphoneMuteKey, m.headphones);
    return m;
}

void applyStoredSampleRate() {
    NorvShareHelper& store = NorvShareHelper::shared();
    if (!store.hardwareDevice) return;
    NotificationCenter::defaultCenter().post(notify::kChangeSampleRate);
    QString text = store.sampleRate;
    text.remove(QStringLiteral("Hz"));
    bool ok = false;
    const double rate = text.toDouble(&ok);
    if (!ok || rate <= 0) return;  // not a rate: leave the device alone
    const std::optional<double> current = store.hardwareDevice->nominalSampleRate();
    if (!current || *current != rate) store.hardwareDevice->setNominalSampleRate(rate);
}

}  // namespace h8
