// The platform's audio hardware as the audio device layer sees it: a list of devices with
// their identifiers, transport, channel counts and sample rate, a way to set the rate, change
// signals, and real-time capture of a device's input channels. Two backends implement it:
// PipeWire (the real one) and the emulated H8 with a built-in device.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace h8 {

enum class TransportType {
    unknown,
    builtIn,
    aggregate,
    virtualDevice,
    pci,
    usb,
    fireWire,
    bluetooth,
    bluetoothLE,
    hdmi,
    displayPort,
    airPlay,
    avb,
    thunderbolt,
    network,
    other,
};

// "USB", "Built-In", ... as shown to users and compared by the view controller.
QString transportTypeText(TransportType type);

// True for a USB device whose model identifier is "<name>:<VVVV>:<PPPP>" with these vendor and
// product ids in upper-case hexadecimal: how an audio device is known to be a given USB
// interface, whatever other USB sound cards are present.
bool isUsbModel(const std::optional<TransportType>& transport,
                const std::optional<QString>& modelUID, uint16_t vendor, uint16_t product);

// What the backend knows of one device. Read and written on the main thread only.
struct AudioDeviceInfo {
    uint32_t id = 0;  // unique while the device exists, never reused within a run
    QString uid;      // persistent name, e.g. "alsa_card.usb-Norvalt_H8_1234ABCD-00"
    QString name;     // human-readable name
    std::optional<QString> modelUID;  // "H8:309C:0018"; absent without USB ids
    QString serial;   // the USB serial as the platform gives it ("Norvalt_H8_1234ABCD"), or empty
    QString busPath;  // where it is plugged in ("pci-0000:00:14.0-usb-0:2:1.0"), or empty
    std::optional<TransportType> transportType;  // absent when unknown to the platform
    uint32_t inputChannels = 0;
    uint32_t outputChannels = 0;
    // Identifies what currently carries the device's inputs (the input stream a capture reads);
    // it changes when the inputs are replaced, e.g. by a profile switch, even at the same count.
    uint32_t inputStreamId = 0;
    std::optional<double> nominalSampleRate;  // Hz
    std::optional<float> volumeScalar;        // main output volume 0..1, when known

    bool operator==(const AudioDeviceInfo&) const = default;
};

// Receives the samples of a device's input channels.
class CaptureSink {
public:
    virtual ~CaptureSink() = default;
    // One render cycle of `frames` frames of `channels` interleaved 32-bit float samples, in
    // device channel order. Runs on the backend's real-time thread: it must not lock, block or
    // allocate.
    virtual void process(const float* interleaved, uint32_t frames, uint32_t channels) noexcept = 0;
};

// A running capture; capture stops when it is destroyed (after which the sink is not called).
class CaptureStream {
public:
    virtual ~CaptureStream() = default;
};

class AudioBackend : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~AudioBackend() override = default;

    // All calls on the main thread; none blocks on the sound server for long.
    virtual QList<AudioDeviceInfo> devices() const = 0;  // in the platform's order
    virtual std::optional<AudioDeviceInfo> device(uint32_t id) const = 0;
    // Asks for a new nominal sample rate; true only when the platform accepted it.
    virtual bool setNominalSampleRate(uint32_t id, double rate) = 0;
    // Starts capturing all input channels of the device into `sink`, which must outlive the
    // returned stream. Null when the device has no input or capture cannot start.
    virtual std::unique_ptr<CaptureStream> startCapture(uint32_t id, CaptureSink* sink) = 0;
    // False while the platform's sound server cannot be reached (the list is then empty); a
    // backend that reconnects emits availabilityChanged when that changes.
    virtual bool isAvailable() const { return true; }

signals:
    // Emitted on the main thread after the device list changed; devices() already shows it.
    void devicesChanged();
    // Emitted on the main thread, after devicesChanged, for each listed device whose inputs or
    // outputs changed (channel counts or inputStreamId): captures of it must be started anew.
    void streamsChanged(uint32_t id);
    void availabilityChanged();
    // Emitted on the main thread when a device's nominal sample rate changed.
    void nominalSampleRateChanged(uint32_t id);
    // Emitted on the main thread when a device's main output volume changed.
    void volumeChanged(uint32_t id);
};

}  // namespace h8
