// The emulated H8: a model of the interface's vendor control protocol and of its physical
// controls. It answers every vendor request of the device as the hardware does, keeps the
// state that the requests read and write, and stalls any request it does not know.
//
// Thread-safe: the umockdev bridge calls handleControl() from umockdev's worker thread while
// a test reads the state from its own thread.
#pragma once

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/usb_transport.h"

namespace h8::emulated {

inline constexpr uint16_t kVendorId = 0x309C;
inline constexpr uint16_t kProductId = 0x0018;

// Everything the device remembers. Addresses of volume and mute are wValue = group << 8 | channel.
struct H8State {
    // Hardware-state byte 0: bit 5 input 1 input type, bit 4 input 2 input type, bit 3 input 1
    // instrument mode, bit 2 input 2 instrument mode, bit 1 input 1 48 V, bit 0 input 2 48 V.
    uint8_t switchBits = 0;
    std::array<uint8_t, 2> gainCode{0, 0};   // input 1 and 2 gain knobs, 0..255
    uint8_t headphoneLevelCode = 128;        // headphone/main output knob, 0..255
    bool otgPlugged = false;                 // a device on the OTG port
    std::map<uint16_t, uint8_t> mute;        // 1 = muted
    std::map<uint16_t, uint8_t> volumeWire;  // the byte as sent (level XOR 0xFF)
    std::map<uint16_t, uint8_t> fourDbu;     // by channel (wValue)
    std::array<uint8_t, 144> mixer{};  // crosspoint gain bytes, index source + 12 * destination
    uint8_t btEnable = 0;
    uint8_t btStatus = 0;
    uint16_t btMac = 0;
    uint8_t backupState = 0;
    std::array<uint8_t, 24> block1F{};
    uint32_t sampleRate = 48000;

    static H8State factory();
    bool operator==(const H8State&) const = default;
};

// One control transfer that the model answered (or refused), kept for tests.
struct TransferRecord {
    UsbSetup setup;
    std::vector<uint8_t> data;  // bytes sent (writes) or returned (reads)
    int status = 0;             // bytes transferred, or a negative UsbStatus
};

class EmulatedH8 {
public:
    enum class Fault {
        None,
        Stall,    // every request stalls (kUsbErrorPipe)
        Timeout,  // every request times out (the umockdev bridge never completes it)
        Hang,     // like Timeout, but each request first takes its whole time-out, as a real
                  // interface that stopped answering does
    };

    EmulatedH8();
    explicit EmulatedH8(const H8State& state);

    // Identity.
    static constexpr uint16_t kBcdDevice = 0x0102;
    static constexpr std::array<uint8_t, 4> kSerialBytes{0x12, 0x34, 0xAB, 0xCD};
    // The serial number it reports (kSerialBytes unless set: a second unit takes its own).
    void setSerial(const std::array<uint8_t, 4>& serial) { serial_ = serial; }
    const std::array<uint8_t, 4>& serial() const { return serial_; }
    // The same number as its USB descriptor's serial string ("1234ABCD").
    QString serialText() const {
        return QString::asprintf("%02X%02X%02X%02X", serial_[0], serial_[1], serial_[2],
                                 serial_[3]);
    }
    static QString productName() { return QStringLiteral("H8"); }
    // The 18-byte device descriptor and the full configuration descriptor (one audio-control
    // interface first), as the device returns them to GET_DESCRIPTOR.
    static std::vector<uint8_t> deviceDescriptor();
    static std::vector<uint8_t> configDescriptor();

    // Answers one control request. For a device-to-host request fills `data` (setup.length
    // bytes) and returns the number of bytes; for a host-to-device request reads them. Unknown
    // requests, and every request while a fault is set, return a negative status.
    int handleControl(const UsbSetup& setup, uint8_t* data);

    // Physical controls.
    void setGainCode(int input, uint8_t code);  // input 1 or 2
    void setHeadphoneLevelCode(uint8_t code);
    void setPhantomPower(int input, bool on);
    void setInstrumentMode(int input, bool on);
    void setInputType(int input, bool on);
    void setOtgPlugged(bool plugged);
    // Every crosspoint silent (0xFF), as the mixer comes back after a loss of power.
    void resetMixer();

    // The fault takes effect `after` from now (at once by default).
    void setFault(Fault fault, std::chrono::milliseconds after = std::chrono::milliseconds(0));
    Fault fault() const;  // the fault in effect now
    // "stall", "timeout", "hang" or "hang@MS" (hanging from MS milliseconds on), "denied" or
    // "denied-until@MS" (access granted MS milliseconds from now), as the programs take it from
    // H8_SIMULATE_FAULT; false for anything else.
    bool setFaultFromText(const QByteArray& text);

    // The user may not open the device (as without the udev rule): opening it fails with
    // kUsbErrorAccess until `until` from now (for good with std::nullopt); zero grants access.
    void denyAccess(std::optional<std::chrono::milliseconds> until);
    bool accessDenied() const;

    H8State state() const;
    void setState(const H8State& state);

    // The most recent transfers (at most kMaxTransferRecords), oldest first.
    static constexpr size_t kMaxTransferRecords = 4096;
    std::vector<TransferRecord> transfers() const;
    void clearTransfers();

    // Called (outside the lock) after every change of state, from whichever thread made it.
    void setChangeListener(std::function<void()> listener);

    // The state as the JSON document of the state file, and back. fromJson() refuses a
    // document that is not a state file, with a one-line reason in `error`.
    static QByteArray toJson(const H8State& state);
    static bool fromJson(const QByteArray& json, H8State* state, QString* error);

    // Loads the state file at `path`: a missing file means the factory state, and the file is
    // created; a corrupt file is refused (returns false, `error` says why, nothing is written).
    bool loadOrCreate(const QString& path, QString* error);
    // Writes the state file atomically.
    bool save(const QString& path, QString* error) const;

private:
    int answer(const UsbSetup& setup, uint8_t* data);  // with mutex_ held

    mutable std::mutex mutex_;
    H8State state_;
    Fault fault_ = Fault::None;
    std::array<uint8_t, 4> serial_ = kSerialBytes;
    bool denied_ = false;
    std::optional<std::chrono::steady_clock::time_point> deniedUntil_;  // none: for good
    std::chrono::steady_clock::time_point faultFrom_{};
    Fault faultNow() const;  // under mutex_
    std::vector<TransferRecord> transfers_;
    std::function<void()> listener_;
};

}  // namespace h8::emulated
