#include "core/audio_devices.h"

#include <QHash>
#include <QObject>
#include <QRegularExpression>
#include <atomic>

#include "core/notification_names.h"
#include "platform/notification_center.h"

namespace h8 {
namespace {

AudioBackend* g_backend = nullptr;

// One live wrapper per device identifier.
QHash<uint32_t, std::weak_ptr<AudioDevice>>& pool() {
    static QHash<uint32_t, std::weak_ptr<AudioDevice>> p;
    return p;
}

AudioDevicePtr wrapperFor(const AudioDeviceInfo& info) {
    if (AudioDevicePtr live = pool().value(info.id).lock()) return live;
    auto device = std::make_shared<AudioDevice>(info.id, info.name);
    pool().insert(info.id, device);
    return device;
}

AudioDeviceList listDevices() {
    AudioDeviceList list;
    if (!g_backend) return list;
    for (const AudioDeviceInfo& info : g_backend->devices()) list.append(wrapperFor(info));
    return list;
}

bool containsDevice(const AudioDeviceList& list, const AudioDevicePtr& device) {
    for (const AudioDevicePtr& d : list) {
        if (*d == *device) return true;
    }
    return false;
}

// The shared device monitor: the devices known so far, and the listener that turns every
// change of the backend's list into one deviceListChanged notification.
struct AudioHardware {
    AudioDeviceList allKnownDevices;
    QMetaObject::Connection listener;
    QObject context;

    void enable() {
        disable();
        if (!g_backend) return;
        listener = QObject::connect(g_backend, &AudioBackend::devicesChanged, &context,
                                    [this] { devicesChanged(); });
    }
    void disable() { QObject::disconnect(listener); }

    void devicesChanged() {
        const AudioDeviceList now = listDevices();
        AudioDeviceList added, removed;
        for (const AudioDevicePtr& d : now) {
            if (!containsDevice(allKnownDevices, d)) added.append(d);
        }
        for (const AudioDevicePtr& d : allKnownDevices) {
            if (!containsDevice(now, d)) removed.append(d);
        }
        allKnownDevices.append(added);
        allKnownDevices.removeIf(
            [&](const AudioDevicePtr& d) { return containsDevice(removed, d); });
        NotificationCenter::defaultCenter().post(
            notify::kDeviceListChanged, {},
            {{QStringLiteral("addedDevices"), QVariant::fromValue(added)},
             {QStringLiteral("removedDevices"), QVariant::fromValue(removed)}});
    }
};

std::atomic<int> g_instances{0};
AudioHardware* g_hardware = nullptr;

}  // namespace

AudioDevice::AudioDevice(uint32_t id, QString cachedName)
    : id_(id), cachedDeviceName_(std::move(cachedName)) {}

std::optional<AudioDeviceInfo> AudioDevice::info() const {
    if (!g_backend) return std::nullopt;
    return g_backend->device(id_);
}

std::optional<QString> AudioDevice::uid() const {
    const auto i = info();
    if (!i) return std::nullopt;
    return i->uid;
}

std::optional<QString> AudioDevice::modelUID() const {
    const auto i = info();
    return i ? i->modelUID : std::nullopt;
}

Unit unitOf(const AudioDeviceInfo& info, const QString& serial, const QString& usbPorts) {
    // udev's path of a USB device: "...-usb-0:<ports>:<configuration>.<interface>".
    const bool portsKnown = !usbPorts.isEmpty() && !info.busPath.isEmpty();
    const bool samePorts = portsKnown && info.busPath.contains(QStringLiteral("-usb-0:") +
                                                               usbPorts + QLatin1Char(':'));
    const Unit byPorts = !portsKnown ? Unit::unknown : samePorts ? Unit::same : Unit::other;
    if (serial.isEmpty()) return byPorts;
    bool sameSerial = false;
    if (!info.serial.isEmpty()) {
        sameSerial = info.serial.endsWith(serial, Qt::CaseInsensitive);
        if (!sameSerial) return Unit::other;
    } else {
        // Without a serial property, the persistent name may carry it ("..._1234ABCD-00"); a
        // name without it says nothing (a device without a serial has none there either).
        sameSerial =
            info.uid.contains(QLatin1Char('_') + serial + QLatin1Char('-'), Qt::CaseInsensitive);
        if (!sameSerial) return byPorts;
    }
    return portsKnown && !samePorts ? Unit::other : Unit::same;
}

Unit AudioDevice::unit(const QString& serial, const QString& usbPorts) const {
    const auto i = info();
    return i ? unitOf(*i, serial, usbPorts) : Unit::other;
}

std::optional<TransportType> AudioDevice::transportType() const {
    const auto i = info();
    return i ? i->transportType : std::nullopt;
}

std::optional<double> AudioDevice::nominalSampleRate() const {
    const auto i = info();
    return i ? i->nominalSampleRate : std::nullopt;
}

std::optional<float> AudioDevice::volumeScalar() const {
    const auto i = info();
    return i ? i->volumeScalar : std::nullopt;
}

uint32_t AudioDevice::channels(Scope scope) const {
    const auto i = info();
    if (!i) return 0;
    if (scope == Scope::input) return i->inputChannels;
    if (scope == Scope::output) return i->outputChannels;
    return 0;
}

uint32_t AudioDevice::inputStreamId() const {
    const auto i = info();
    return i ? i->inputStreamId : 0;
}

bool AudioDevice::setNominalSampleRate(double rate) const {
    return g_backend && info() && g_backend->setNominalSampleRate(id_, rate);
}

QMetaObject::Connection AudioDevice::addPropertyListener(Property property, const QObject* context,
                                                         std::function<void()> callback) const {
    if (!g_backend || !context) return {};
    const uint32_t id = id_;
    auto filtered = [id, callback = std::move(callback)](uint32_t changed) {
        if (changed == id) callback();
    };
    switch (property) {
        case Property::nominalSampleRate:
            return QObject::connect(g_backend, &AudioBackend::nominalSampleRateChanged, context,
                                    filtered);
        case Property::volume:
            return QObject::connect(g_backend, &AudioBackend::volumeChanged, context, filtered);
        case Property::streams:
            return QObject::connect(g_backend, &AudioBackend::streamsChanged, context, filtered);
    }
    return {};
}

void AudioDevice::removePropertyListener(const QMetaObject::Connection& connection) {
    QObject::disconnect(connection);
}

void SimplyCoreAudio::setBackend(AudioBackend* backend) {
    if (g_hardware) g_hardware->disable();
    g_backend = backend;
    pool().clear();
    if (g_hardware) {
        g_hardware->allKnownDevices = listDevices();
        g_hardware->enable();
    }
}

AudioBackend* SimplyCoreAudio::backend() {
    return g_backend;
}

bool SimplyCoreAudio::isAvailable() {
    return g_backend && g_backend->isAvailable();
}

SimplyCoreAudio::SimplyCoreAudio() {
    if (g_instances.fetch_add(1) == 0) {
        g_hardware = new AudioHardware();
        g_hardware->enable();
        g_hardware->allKnownDevices = listDevices();
    }
}

SimplyCoreAudio::~SimplyCoreAudio() {
    if (g_instances.fetch_sub(1) == 1) {
        g_hardware->allKnownDevices.clear();
        g_hardware->disable();
        delete g_hardware;
        g_hardware = nullptr;
    }
}

AudioDeviceList SimplyCoreAudio::allDevices() const {
    return listDevices();
}

int SimplyCoreAudio::instanceCount() {
    return g_instances.load();
}

AudioDeviceList audioDeviceListFrom(const QVariant& value) {
    return value.canConvert<AudioDeviceList>() ? value.value<AudioDeviceList>() : AudioDeviceList();
}

AudioDeviceList h8AudioDevices(const AudioDeviceList& devices) {
    AudioDeviceList found;
    for (const AudioDevicePtr& d : devices) {
        if (isUsbModel(d->transportType(), d->modelUID(), 0x309C, 0x0018)) found.append(d);
    }
    return found;
}

AudioDevicePtr findH8AudioDevice(const AudioDeviceList& devices) {
    const AudioDeviceList h8s = h8AudioDevices(devices);
    return h8s.isEmpty() ? nullptr : h8s.first();
}

AudioDevicePtr findH8AudioDevice(const AudioDeviceList& devices, const QString& serial,
                                 const QString& usbPorts) {
    AudioDevicePtr unknown;
    for (const AudioDevicePtr& d : h8AudioDevices(devices)) {
        const Unit u = d->unit(serial, usbPorts);
        if (u == Unit::same) return d;
        if (u == Unit::unknown && !unknown) unknown = d;
    }
    return unknown;
}

QString sampleRateText(double rate) {
    return QString::number(static_cast<qint64>(rate)) + QStringLiteral("Hz");
}

}  // namespace h8
