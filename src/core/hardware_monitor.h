// What the hardware poll reads from the interface, as one value with a change signal: the input
// gains, the 48 V, instrument and input-type indicators, the headphone level and mute, the OTG
// port; with them the two input mutes as the panel records them and the OTG output volume the
// panel set. The panels render it; the shared store keeps its fields as before.
#pragma once

#include <QObject>
#include <optional>

namespace h8 {

class NorvShareHelper;
class UserDefaults;
class UsbInterface;

struct HardwareState {
    double input1Gain = 0;      // dB, 0..56
    double input2Gain = 0;      // dB
    double headphoneLevel = 0;  // 0..100
    double otgVolume = 0;       // percent, as the panel set it
    int phantom1 = 0;           // 48 V of input 1 (1: on)
    int phantom2 = 0;
    int instrument1 = 0;
    int instrument2 = 0;
    int inputType1 = 0;
    int inputType2 = 0;
    int inputMute1 = 0;  // the panel's own record of the input mutes
    int inputMute2 = 0;
    int headphoneMute = 0;             // as the interface reported it last
    std::optional<bool> otgConnected;  // absent when the OTG port is not polled
    bool operator==(const HardwareState&) const = default;
};

class HardwareMonitor : public QObject {
    Q_OBJECT
public:
    // Reads through `usb`, keeps the store's fields and reads the mute record from `defaults`;
    // all three must outlive the monitor.
    HardwareMonitor(UsbInterface& usb, NorvShareHelper& store, UserDefaults& defaults,
                    QObject* parent = nullptr);

    // One read, the work of a poll tick: logs its progress and, while the store's poll gate is
    // open, reads the hardware state, the OTG port (when the store says there is one) and the
    // headphone mute, each waiting at most a short time. Nothing when the gate is closed; false
    // when the interface did not answer (the state then stays as it was).
    std::optional<bool> poll();

    const HardwareState& state() const { return state_; }

    // The settings the panel changes on the interface, sent and stored as the panel's buttons
    // and knob do, whoever asks (a click, the session bus): the state follows at once, without
    // waiting for the next read, so that every view of it shows the change. Each returns
    // whether the interface took every request (the setting is stored either way).
    bool setInputMute(int input, bool muted);
    bool setHeadphoneMute(bool muted);
    bool setOtgVolume(int percent);

signals:
    // After every read the interface answered (the panel shows it each time: a knob's first
    // paint shows 0 until the next readout).
    void updated(const HardwareState& state);
    // When a read changed the state.
    void stateChanged(const HardwareState& state);

private:
    // The state from the store's fields (and the OTG port as last read); emits as a read does.
    void publish(std::optional<bool> otgConnected);

    UsbInterface& usb_;
    NorvShareHelper& store_;
    UserDefaults& defaults_;
    HardwareState state_;
};

}  // namespace h8
