// The libusb-1.0 backend of UsbTransport.
//
// Threads: a private event thread runs libusb's event loop and receives the hot-plug
// callbacks; it only records the device under a mutex and queues deviceArrived/deviceLeft to
// the thread that owns the transport. Control transfers run synchronously on the calling thread
// while the event thread keeps running, which libusb supports.
//
// Lifetime: each handle returned by open() shares ownership of the libusb context, so a handle
// may outlive the transport; the context is released with the last of them.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/usb_transport.h"

struct libusb_device;

namespace h8 {

class LibusbTransport : public UsbTransport {
    Q_OBJECT
public:
    explicit LibusbTransport(QObject* parent = nullptr);
    // Stops the event thread and releases the context (once no handle uses it any more).
    ~LibusbTransport() override;

    // Creates the libusb context and registers the hot-plug callback. Can succeed only once per
    // transport; a second call returns kUsbErrorBusy. Returns kUsbErrorNotSupported when the
    // platform offers no hot-plug notification.
    int startMonitoring(uint16_t vendorId, uint16_t productId,
                        QList<UsbDeviceId>* present) override;
    // kUsbErrorNoDevice when `id` is unknown or the device has left.
    int open(UsbDeviceId id, std::unique_ptr<UsbDeviceHandle>* handle) override;
    QString productName(uint16_t vendorId, uint16_t productId) override;
    QString portPath(UsbDeviceId id) override;
    QString serialNumber(UsbDeviceId id) override;

    struct Context;  // the libusb context, shared with the open handles

private:
    enum class Event { Arrived, Left };

    int ensureContext();
    void onHotplug(libusb_device* device, Event event);
    void runEvents();

    std::shared_ptr<Context> context_;
    std::thread eventThread_;
    std::atomic<bool> stopEvents_{false};
    bool monitoring_ = false;
    int hotplugHandle_ = 0;  // libusb_hotplug_callback_handle

    // Shared with the event thread.
    std::mutex mutex_;
    std::map<UsbDeviceId, libusb_device*> devices_;  // attached devices, each holding a reference
    UsbDeviceId nextId_ = 1;
    QList<UsbDeviceId>* enumerating_ = nullptr;  // set while the register call reports devices

    friend struct HotplugTrampoline;  // the C callback that forwards to onHotplug()
};

}  // namespace h8
