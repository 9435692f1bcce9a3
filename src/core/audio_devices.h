// The audio device layer: one shared wrapper per audio device of the platform, the device
// properties the program needs (identifiers, transport, channel counts, sample rate, volume)
// and the "SimplyCoreAudio.deviceListChanged" notification. It reads everything through the
// process's AudioBackend (PipeWire, or the emulated H8 with --simulate). Main thread only.
#pragma once

#include <QList>
#include <QMetaObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

#include "platform/audio/audio_backend.h"

namespace h8 {

enum class Scope { global, input, output, playthrough, main, wildcard };

// Whether an audio device is the USB unit with USB serial number string `serial` (the
// descriptor's, as the interface's USB side reads it: "1234ABCD") at port path `usbPorts`
// ("2", "1.4"). The platform lists the same string as the device's serial (or ends its
// persistent name with it), so a serial that differs is another unit. Of two units with one
// serial, the port path in the platform's bus path ("...-usb-0:2:1.0") tells which. Without a
// serial on either side the port path decides alone; without both, `unknown`.
enum class Unit { same, other, unknown };
Unit unitOf(const AudioDeviceInfo& info, const QString& serial, const QString& usbPorts);

class AudioDevice {
public:
    explicit AudioDevice(uint32_t id, QString cachedName);

    uint32_t id() const { return id_; }
    QString cachedDeviceName() const { return cachedDeviceName_; }

    // Each read is absent (or 0) when the device is gone or does not have the property.
    std::optional<QString> uid() const;
    std::optional<QString> modelUID() const;
    std::optional<TransportType> transportType() const;
    // Whether this is the unit with USB serial number `serial` (see unitOf).
    Unit unit(const QString& serial, const QString& usbPorts = {}) const;
    std::optional<double> nominalSampleRate() const;
    std::optional<float> volumeScalar() const;
    uint32_t channels(Scope scope) const;
    // What carries the device's inputs now (AudioDeviceInfo::inputStreamId); 0 when gone.
    uint32_t inputStreamId() const;
    // True only when the device exists and the platform accepted the rate.
    bool setNominalSampleRate(double rate) const;

    // Calls `callback` on the main thread whenever the property changes on this device, for as
    // long as `context` lives (so the callback never reaches a destroyed owner). The returned
    // connection removes the listener when passed to removePropertyListener(). `streams`
    // changes when the device's inputs or outputs are replaced (a profile switch).
    enum class Property { nominalSampleRate, volume, streams };
    QMetaObject::Connection addPropertyListener(Property property, const QObject* context,
                                                std::function<void()> callback) const;
    static void removePropertyListener(const QMetaObject::Connection& connection);

    bool operator==(const AudioDevice& other) const { return id_ == other.id_; }

private:
    std::optional<AudioDeviceInfo> info() const;

    uint32_t id_;
    QString cachedDeviceName_;
};

using AudioDevicePtr = std::shared_ptr<AudioDevice>;
using AudioDeviceList = QList<AudioDevicePtr>;

class SimplyCoreAudio {
public:
    // The backend every SimplyCoreAudio object reads; set once by the program before the first
    // object is created (and by tests).
    static void setBackend(AudioBackend* backend);
    static AudioBackend* backend();

    // True while the platform's audio service can be reached (see AudioBackend::isAvailable).
    static bool isAvailable();

    // Any number may exist; they share one device monitor, which runs while at least one
    // exists and posts "SimplyCoreAudio.deviceListChanged" with the lists "addedDevices" and
    // "removedDevices" (AudioDeviceList in a QVariant) on every change of the device list.
    SimplyCoreAudio();
    ~SimplyCoreAudio();
    SimplyCoreAudio(const SimplyCoreAudio&) = delete;
    SimplyCoreAudio& operator=(const SimplyCoreAudio&) = delete;

    // The wrappers of all devices listed now, in the platform's order; the same device always
    // yields the same wrapper while one is held.
    AudioDeviceList allDevices() const;

    // Number of SimplyCoreAudio objects alive (tests).
    static int instanceCount();
};

// Reads the device lists of a "SimplyCoreAudio.deviceListChanged" payload entry.
AudioDeviceList audioDeviceListFrom(const QVariant& value);

// The interface's audio devices in a list: USB transport and a model identifier whose vendor
// and product parts are 309C and 0018, in the list's order.
AudioDeviceList h8AudioDevices(const AudioDeviceList& devices);
// The first of them; null when there is none.
AudioDevicePtr findH8AudioDevice(const AudioDeviceList& devices);
// The one that is the unit with USB serial number `serial` at `usbPorts`, else the first whose
// unit cannot be told; never one that is another unit. Null when there is none.
AudioDevicePtr findH8AudioDevice(const AudioDeviceList& devices, const QString& serial,
                                 const QString& usbPorts);

// "48000Hz": the rate truncated to an integer followed by Hz.
QString sampleRateText(double rate);

}  // namespace h8

Q_DECLARE_METATYPE(h8::AudioDeviceList)
