// USB access as the device session sees it: hot-plug of the devices that match one
// vendor/product pair, and synchronous control transfers on endpoint 0 of an open device.
// Two backends implement it: libusb-1.0 (real hardware) and an in-process emulated H8.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

namespace h8 {

// Status codes of the transport. They mirror libusb's error codes so that the real backend
// passes them through unchanged and the emulated backend reports the same values.
enum UsbStatus : int {
    kUsbSuccess = 0,
    kUsbErrorIo = -1,
    kUsbErrorInvalidParam = -2,
    kUsbErrorAccess = -3,
    kUsbErrorNoDevice = -4,
    kUsbErrorNotFound = -5,
    kUsbErrorBusy = -6,
    kUsbErrorTimeout = -7,
    kUsbErrorOverflow = -8,
    kUsbErrorPipe = -9,
    kUsbErrorInterrupted = -10,
    kUsbErrorNoMem = -11,
    kUsbErrorNotSupported = -12,
    kUsbErrorOther = -99,
};

// The libusb name of a status ("LIBUSB_ERROR_PIPE"); "LIBUSB_SUCCESS" for 0 and positive values.
const char* usbStatusName(int status);

// The 8-byte setup packet of a control transfer, in host byte order.
struct UsbSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
};

// The fields of the device descriptor that the session reads.
struct UsbDeviceInfo {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0;
};

// Timeout of every control transfer, in milliseconds.
inline constexpr unsigned kControlTimeoutMs = 1000;

// An opened device. All calls are synchronous on the calling thread (the main thread).
class UsbDeviceHandle {
public:
    virtual ~UsbDeviceHandle() = default;

    // Reads the device descriptor. Returns kUsbSuccess or a negative status.
    virtual int deviceInfo(UsbDeviceInfo* info) = 0;
    // Number of the first interface of the active configuration; kUsbErrorNotFound when the
    // configuration has no interface.
    virtual int firstInterfaceNumber(int* number) = 0;
    // One control transfer on endpoint 0. `data` holds `setup.length` bytes: the bytes to send
    // for a host-to-device request, the buffer to fill otherwise. Returns the number of bytes
    // transferred or a negative status.
    virtual int controlTransfer(const UsbSetup& setup, uint8_t* data, unsigned timeoutMs) = 0;
};

// Identifies one attachment of a device: a device that is unplugged and plugged in again gets
// a new id.
using UsbDeviceId = quint64;

class UsbTransport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~UsbTransport() override = default;

    // Starts watching for devices with this vendor and product id. On success the devices
    // already attached are stored in `present` (in enumeration order) and kUsbSuccess is
    // returned; from then on deviceArrived and deviceLeft are emitted on the thread that owns
    // this object. Returns a negative status when the platform's USB access cannot start.
    virtual int startMonitoring(uint16_t vendorId, uint16_t productId,
                                QList<UsbDeviceId>* present) = 0;

    // Opens an attached device. Returns kUsbSuccess and the handle, or a negative status
    // (kUsbErrorAccess when the user lacks permission).
    virtual int open(UsbDeviceId id, std::unique_ptr<UsbDeviceHandle>* handle) = 0;

    // The USB product name string of the matching attached devices; the last one enumerated
    // wins. Empty when none is attached or none can be read.
    virtual QString productName(uint16_t vendorId, uint16_t productId) = 0;

    // The ports an attached device hangs from, from the root hub ("2", "1.4"); empty when
    // unknown. Tells two units of one serial number apart.
    virtual QString portPath(UsbDeviceId) { return {}; }

    // The serial number string of an attached device's USB descriptor (iSerialNumber), which
    // the platform's device database, and so the sound server, also reports; empty when the
    // device has none or it cannot be read.
    virtual QString serialNumber(UsbDeviceId) { return {}; }

signals:
    void deviceArrived(h8::UsbDeviceId id);
    void deviceLeft(h8::UsbDeviceId id);
};

}  // namespace h8
