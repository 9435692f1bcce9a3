#include "core/usb_session.h"

#include <QPointer>
#include <QTimer>
#include <cstring>
#include <optional>

#include "core/audio_devices.h"
#include "core/share_helper.h"
#include "core/vendor_requests.h"
#include "platform/diagnostics.h"
#include "platform/notification_center.h"

namespace h8 {
namespace {

struct Session {
    QPointer<UsbTransport> transport;
    UsbInterface* usb = nullptr;
    QList<QMetaObject::Connection> connections;
    // Arrivals are handled only while armed: after a device is accepted, further matching
    // devices wait (in `waiting`) until the accepted one is removed.
    bool armed = true;
    std::optional<UsbDeviceId> current;
    QList<UsbDeviceId> waiting;
    // H8s this user may not open (no udev rule yet), tried again every kAccessRetryMs: a rule
    // installed later (and `udevadm trigger`) binds the interface without a re-plug.
    QList<UsbDeviceId> denied;
    QPointer<QTimer> retry;
    // Released (releaseUSBDevice): nothing is opened, the attached H8s wait in `waiting`.
    bool released = false;
};

constexpr int kAccessRetryMs = 1000;

Session& session() {
    static Session* s = new Session();
    return *s;
}

std::function<QList<AudioDeviceInfo>()>& audioDeviceSource() {
    static std::function<QList<AudioDeviceInfo>()> source;
    return source;
}

// Publishes the identity of the newly opened device into the store, in the order that callers
// rely on: name, firmware version, serial number.
void publishIdentity() {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.deviceName = IOUSBHelper::getpNameWitKidVendor(kH8VendorId, kH8ProductId);

    const QString version = QString::fromStdString(NorvaltUSBAudioGetFirmwareVersion());
    store.deviceVersion = version.isEmpty() ? version : version.left(1) + "." + version.mid(1);
    qsizetype digits = 0;
    while (digits < version.size() && version[digits].isDigit()) ++digits;
    store.firmware = digits ? version.left(digits).toLongLong() : 0;

    uint32_t serial = 0;
    NorvaltUSBAudioGetSN(serial);
    uint8_t b[4];
    std::memcpy(b, &serial, 4);
    store.deviceSn = QString::asprintf("%02x%02x%02x%02x", b[0], b[1], b[2], b[3]).toUpper();
}

bool usbDeviceAdded(const QList<UsbDeviceId>& ids, bool retrying);

// Tells the interface object how many H8s are plugged in beside the one in use.
void countOthers() {
    Session& s = session();
    // While released, the unit in use waits with the others: the count would name it.
    if (s.usb && !s.released)
        s.usb->setOtherUnits(static_cast<int>(s.waiting.size() + s.denied.size()));
}

void noteDenied(UsbDeviceId id) {
    Session& s = session();
    if (!s.denied.contains(id)) s.denied.append(id);
    if (!s.retry && s.transport) {
        s.retry = new QTimer(s.transport);
        s.retry->setInterval(kAccessRetryMs);
        QObject::connect(s.retry, &QTimer::timeout, s.retry, [] {
            Session& s = session();
            if (s.armed && !s.denied.isEmpty()) usbDeviceAdded(QList<UsbDeviceId>(s.denied), true);
        });
    }
    if (s.retry && !s.retry->isActive()) s.retry->start();
    if (s.armed) s.usb->setAccessDenied(true);
    countOthers();
}

void forgetDenied(UsbDeviceId id) {
    Session& s = session();
    s.denied.removeAll(id);
    countOthers();
    if (!s.denied.isEmpty()) return;
    if (s.retry) s.retry->stop();
    if (s.usb) s.usb->setAccessDenied(false);
}

// Tries the devices in order and accepts the first one that opens. Returns true when one was
// accepted. `retrying`: another look at devices that could not be opened for lack of access,
// which says nothing while they still cannot.
bool usbDeviceAdded(const QList<UsbDeviceId>& ids, bool retrying) {
    Session& s = session();
    for (UsbDeviceId id : ids) {
        if (!retrying) diagTrace("while .....1");
        std::unique_ptr<UsbDeviceHandle> handle;
        int status = s.transport->open(id, &handle);
        if (status == kUsbErrorAccess) {
            // Said once per arrival; the programs show the advice in their own way.
            if (!retrying) {
                diagTrace(usbPermissionHint().toStdString());
                diagTracef("Unable to create a plug-in (%08x)", static_cast<unsigned>(status));
            }
            noteDenied(id);
            continue;
        }
        if (status != kUsbSuccess || !handle) {
            diagf("Unable to create a plug-in (%08x)", static_cast<unsigned>(status));
            continue;
        }
        if (retrying) diag("Access to the H8's USB device was granted");
        UsbDeviceInfo info;
        status = handle->deviceInfo(&info);
        if (status != kUsbSuccess) {
            diagf("Couldn’t create a device interface (%08x)", static_cast<unsigned>(status));
            continue;
        }
        if (info.vendorId != kH8VendorId) {
            diagTracef("Found unwanted device (vendor = %d, product = %d ，release = %d)",
                       info.vendorId, info.productId, info.bcdDevice);
            continue;
        }
        int interfaceNumber = 0xFF;
        status = handle->firstInterfaceNumber(&interfaceNumber);
        if (status != kUsbSuccess && status != kUsbErrorNotFound) {
            diagf("Unable to create interface iterator: %08x", static_cast<unsigned>(status));
            continue;
        }
        diagTrace("create interface iterator");
        if (status == kUsbErrorNotFound) continue;  // a configuration without interfaces

        // Accepted: every vendor request now goes through this handle.
        forgetDenied(id);
        s.usb->open(std::shared_ptr<UsbDeviceHandle>(std::move(handle)));
        s.usb->setAttached(true);
        s.usb->setPortPath(s.transport->portPath(id));
        s.usb->setUsbSerial(s.transport->serialNumber(id));
        s.current = id;
        s.armed = false;
        s.waiting.removeAll(id);
        countOthers();
        publishIdentity();
        NotificationCenter::defaultCenter().post(
            kRawDeviceAdded, {},
            {{QStringLiteral("uid"),
              IOUSBHelper::getUSBDeviceUidWitKidVendor(kH8VendorId, kH8ProductId)}});
        return true;
    }
    return false;
}

void onArrived(UsbDeviceId id) {
    Session& s = session();
    if (s.released) {
        s.waiting.append(id);
        return;
    }
    if (!s.armed) {
        s.waiting.append(id);  // a second H8: ignored while the first one is in use
        diag(
            "Another H8 (USB 309c:0018) is plugged in; it is ignored while the first one is in "
            "use");
        countOthers();
        return;
    }
    usbDeviceAdded({id}, false);
}

void onLeft(UsbDeviceId id) {
    Session& s = session();
    if (s.denied.contains(id)) forgetDenied(id);
    if (s.current != id) {
        // An ignored second device (or, while released, any) went away: nothing to tell.
        s.waiting.removeAll(id);
        countOthers();
        return;
    }
    // The handle stays in place, so requests fail (and print their line) until a device is
    // accepted again.
    s.current.reset();
    s.armed = true;
    s.usb->setAttached(false);
    NotificationCenter::defaultCenter().post(kRawDeviceRemoved);
    // Another H8 that was waiting while this one was in use takes its place.
    if (!s.waiting.isEmpty()) usbDeviceAdded(QList<UsbDeviceId>(s.waiting), false);
    countOthers();
}

}  // namespace

bool startUSBMonitoring(UsbTransport& transport, UsbInterface& usb) {
    Session& s = session();
    stopUSBMonitoring();
    s.transport = &transport;
    s.usb = &usb;
    QList<UsbDeviceId> present;
    const int status = transport.startMonitoring(kH8VendorId, kH8ProductId, &present);
    if (status != kUsbSuccess) {
        diagf("ERR: Couldn’t create a master I/O Kit port(%08x)", static_cast<unsigned>(status));
        s.transport.clear();
        s.usb = nullptr;
        return false;
    }
    s.connections.append(QObject::connect(&transport, &UsbTransport::deviceArrived, &transport,
                                          [](UsbDeviceId id) { onArrived(id); }));
    s.connections.append(QObject::connect(&transport, &UsbTransport::deviceLeft, &transport,
                                          [](UsbDeviceId id) { onLeft(id); }));
    if (!present.isEmpty() && !usbDeviceAdded(present, false)) return true;
    // Devices after the accepted one wait their turn.
    for (UsbDeviceId id : present) {
        if (s.current == id) continue;
        s.waiting.append(id);
        diag(
            "Another H8 (USB 309c:0018) is plugged in; it is ignored while the first one is in "
            "use");
    }
    countOthers();
    return true;
}

void releaseUSBDevice() {
    Session& s = session();
    if (s.released || !s.usb) return;
    s.released = true;
    s.armed = false;
    if (s.retry) s.retry->stop();
    if (s.current) {
        s.waiting.prepend(*s.current);
        s.current.reset();
        s.usb->setAttached(false);
        s.usb->close();
        NotificationCenter::defaultCenter().post(kRawDeviceRemoved);
    }
}

void reclaimUSBDevice() {
    Session& s = session();
    if (!s.released) return;
    s.released = false;
    s.armed = true;
    // The unit released first, then the others, then those this user could not open.
    const QList<UsbDeviceId> candidates = s.waiting + s.denied;
    if (candidates.isEmpty() || !usbDeviceAdded(candidates, false)) countOthers();
}

bool isUSBDeviceReleased() {
    return session().released;
}

void stopUSBMonitoring() {
    Session& s = session();
    s.released = false;
    for (const auto& c : s.connections) QObject::disconnect(c);
    s.connections.clear();
    s.transport.clear();
    s.armed = true;
    s.current.reset();
    s.waiting.clear();
    s.denied.clear();
    delete s.retry;
    if (s.usb) {
        s.usb->setOtherUnits(0);
        s.usb->setAccessDenied(false);
        s.usb->close();
    }
    s.usb = nullptr;
}

QString usbPermissionHint() {
    return QStringLiteral(
               "Cannot open the H8 (USB 309c:0018): permission denied. Install the udev rule that "
               "gives the logged-in user access: `%1`, or the package: `%2`. The interface is "
               "bound within seconds once access is granted.")
        .arg(QLatin1String(kUdevRuleInstallCommand), QLatin1String(kPackageInstallCommand));
}

QString IOUSBHelper::getpNameWitKidVendor(int vendor, int product) {
    UsbTransport* transport = session().transport;
    if (!transport) return {};
    return transport->productName(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product));
}

QString IOUSBHelper::getUSBDeviceUidWitKidVendor(int vendor, int product) {
    if (!audioDeviceSource()) return {};
    // The audio device of the unit just opened (by its serial number and port path); with two
    // H8s the first one listed is another unit as often as not.
    const QString serial = session().usb ? session().usb->usbSerial() : QString();
    const QString ports = session().usb ? session().usb->portPath() : QString();
    QString unknown;
    for (const AudioDeviceInfo& d : audioDeviceSource()()) {
        if (!isUsbModel(d.transportType, d.modelUID, static_cast<uint16_t>(vendor),
                        static_cast<uint16_t>(product)))
            continue;
        const Unit u = unitOf(d, serial, ports);
        if (u == Unit::same) return d.uid;
        if (u == Unit::unknown && unknown.isEmpty()) unknown = d.uid;
    }
    return unknown;
}

void IOUSBHelper::setAudioDeviceSource(std::function<QList<AudioDeviceInfo>()> source) {
    audioDeviceSource() = std::move(source);
}

}  // namespace h8
