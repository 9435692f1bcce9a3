#include "platform/libusb_transport.h"

#include <libusb.h>

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/diagnostics.h"

namespace h8 {

struct LibusbTransport::Context {
    libusb_context* ctx = nullptr;

    Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() {
        if (ctx != nullptr) libusb_exit(ctx);
    }
};

namespace {

// How long one pass of the event loop may block. Stopping the transport waits for at most one
// pass; the pass is also cut short when the hot-plug callback is deregistered.
constexpr int kEventPassMs = 100;

constexpr uint16_t kLanguageEnglishUs = 0x0409;

class LibusbDeviceHandle : public UsbDeviceHandle {
public:
    LibusbDeviceHandle(std::shared_ptr<LibusbTransport::Context> context,
                       libusb_device_handle* handle)
        : context_(std::move(context)), handle_(handle) {}
    ~LibusbDeviceHandle() override { libusb_close(handle_); }

    int deviceInfo(UsbDeviceInfo* info) override {
        libusb_device_descriptor descriptor{};
        const int status = libusb_get_device_descriptor(libusb_get_device(handle_), &descriptor);
        if (status < 0) return status;
        info->vendorId = descriptor.idVendor;
        info->productId = descriptor.idProduct;
        info->bcdDevice = descriptor.bcdDevice;
        return kUsbSuccess;
    }

    int firstInterfaceNumber(int* number) override {
        libusb_config_descriptor* config = nullptr;
        const int status = libusb_get_active_config_descriptor(libusb_get_device(handle_), &config);
        if (status < 0) return status;
        int result = kUsbErrorNotFound;
        if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
            *number = config->interface[0].altsetting[0].bInterfaceNumber;
            result = kUsbSuccess;
        }
        libusb_free_config_descriptor(config);
        return result;
    }

    int controlTransfer(const UsbSetup& setup, uint8_t* data, unsigned timeoutMs) override {
        return libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value,
                                       setup.index, data, setup.length, timeoutMs);
    }

private:
    std::shared_ptr<LibusbTransport::Context> context_;  // keeps libusb alive for the handle
    libusb_device_handle* handle_;
};

// Reads string descriptor `index` in US English and decodes its UTF-16LE text.
QString readStringDescriptor(libusb_device_handle* handle, uint8_t index) {
    unsigned char buffer[255];
    const int length =
        libusb_get_string_descriptor(handle, index, kLanguageEnglishUs, buffer, sizeof buffer);
    if (length < 2 || buffer[1] != LIBUSB_DT_STRING) return {};
    const int end = std::min<int>(length, buffer[0]);
    QString text;
    for (int i = 2; i + 1 < end; i += 2) {
        text.append(QChar(static_cast<char16_t>(buffer[i] | buffer[i + 1] << 8)));
    }
    return text;
}

}  // namespace

struct HotplugTrampoline {
    static int LIBUSB_CALL callback(libusb_context*, libusb_device* device,
                                    libusb_hotplug_event event, void* user) {
        static_cast<LibusbTransport*>(user)->onHotplug(
            device, event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED ? LibusbTransport::Event::Arrived
                                                                 : LibusbTransport::Event::Left);
        return 0;  // stay registered
    }
};

LibusbTransport::LibusbTransport(QObject* parent) : UsbTransport(parent) {}

LibusbTransport::~LibusbTransport() {
    if (monitoring_) {
        stopEvents_ = true;
        // Deregistering also wakes the event loop, so the thread ends without waiting out its pass.
        libusb_hotplug_deregister_callback(context_->ctx, hotplugHandle_);
        eventThread_.join();
    }
    for (const auto& [id, device] : devices_) libusb_unref_device(device);
    devices_.clear();
    context_.reset();  // libusb_exit here, or when the last open handle closes
}

int LibusbTransport::ensureContext() {
    if (context_) return kUsbSuccess;
    auto context = std::make_shared<Context>();
    const int status = libusb_init(&context->ctx);
    if (status < 0) {
        context->ctx = nullptr;
        return status;
    }
    context_ = std::move(context);
    return kUsbSuccess;
}

int LibusbTransport::startMonitoring(uint16_t vendorId, uint16_t productId,
                                     QList<UsbDeviceId>* present) {
    if (monitoring_) return kUsbErrorBusy;
    const int status = ensureContext();
    if (status < 0) return status;
    if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return kUsbErrorNotSupported;

    // With ENUMERATE, libusb reports the devices already attached from inside the register call,
    // on this thread; onHotplug() collects them into `found` instead of queueing signals.
    QList<UsbDeviceId> found;
    {
        std::lock_guard lock(mutex_);
        enumerating_ = &found;
    }
    libusb_hotplug_callback_handle handle = 0;
    const int registered = libusb_hotplug_register_callback(
        context_->ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
        LIBUSB_HOTPLUG_ENUMERATE, vendorId, productId, LIBUSB_HOTPLUG_MATCH_ANY,
        &HotplugTrampoline::callback, this, &handle);
    {
        std::lock_guard lock(mutex_);
        enumerating_ = nullptr;
    }
    if (registered < 0) {
        std::lock_guard lock(mutex_);
        for (const auto& [id, device] : devices_) libusb_unref_device(device);
        devices_.clear();
        return registered;
    }
    hotplugHandle_ = handle;
    monitoring_ = true;
    stopEvents_ = false;
    eventThread_ = std::thread([this] { runEvents(); });
    if (present != nullptr) *present = found;
    return kUsbSuccess;
}

void LibusbTransport::runEvents() {
    int failures = 0;
    while (!stopEvents_) {
        timeval timeout{0, kEventPassMs * 1000};
        const int status = libusb_handle_events_timeout_completed(context_->ctx, &timeout, nullptr);
        if (status == LIBUSB_SUCCESS || status == LIBUSB_ERROR_INTERRUPTED ||
            status == LIBUSB_ERROR_TIMEOUT) {
            failures = 0;
            continue;
        }
        // A failing event loop returns at once: pause (longer each time, up to 1 s) instead of
        // spinning, and say so once per run of failures.
        if (failures == 0)
            diagf("USB: handling events failed (%s); retrying", libusb_error_name(status));
        failures = std::min(failures + 1, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1000, 40 << failures)));
    }
}

// Runs on the event thread (or on whichever thread happens to be handling libusb events, e.g.
// inside a synchronous transfer), and on the registering thread during enumeration. Touches
// only the device table; the signals reach the owner's thread through its event queue.
void LibusbTransport::onHotplug(libusb_device* device, Event event) {
    std::lock_guard lock(mutex_);
    auto known = devices_.end();
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if (it->second == device) known = it;
    }
    if (event == Event::Arrived) {
        if (known != devices_.end()) return;  // already reported by the enumeration
        const UsbDeviceId id = nextId_++;
        devices_.emplace(id, libusb_ref_device(device));
        if (enumerating_ != nullptr) {
            enumerating_->append(id);
        } else {
            QMetaObject::invokeMethod(
                this, [this, id] { emit deviceArrived(id); }, Qt::QueuedConnection);
        }
    } else {
        if (known == devices_.end()) return;  // never reported: nothing to retract
        const UsbDeviceId id = known->first;
        libusb_unref_device(known->second);
        devices_.erase(known);
        QMetaObject::invokeMethod(
            this, [this, id] { emit deviceLeft(id); }, Qt::QueuedConnection);
    }
}

int LibusbTransport::open(UsbDeviceId id, std::unique_ptr<UsbDeviceHandle>* handle) {
    libusb_device* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(id);
        if (it == devices_.end()) return kUsbErrorNoDevice;
        device = libusb_ref_device(it->second);
    }
    libusb_device_handle* raw = nullptr;
    const int status = libusb_open(device, &raw);
    libusb_unref_device(device);  // an open handle holds its own reference
    if (status < 0) return status;
    *handle = std::make_unique<LibusbDeviceHandle>(context_, raw);
    return kUsbSuccess;
}

QString LibusbTransport::portPath(UsbDeviceId id) {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(id);
    if (it == devices_.end()) return {};
    uint8_t ports[8];
    const int n = libusb_get_port_numbers(it->second, ports, sizeof ports);
    QStringList parts;
    for (int i = 0; i < n; ++i) parts.append(QString::number(ports[i]));
    return parts.join(QLatin1Char('.'));
}

QString LibusbTransport::serialNumber(UsbDeviceId id) {
    libusb_device* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto it = devices_.find(id);
        if (it == devices_.end()) return {};
        device = libusb_ref_device(it->second);
    }
    QString serial;
    libusb_device_descriptor descriptor{};
    libusb_device_handle* handle = nullptr;
    if (libusb_get_device_descriptor(device, &descriptor) == 0 && descriptor.iSerialNumber != 0 &&
        libusb_open(device, &handle) == 0) {
        serial = readStringDescriptor(handle, descriptor.iSerialNumber);
        libusb_close(handle);
    }
    libusb_unref_device(device);
    return serial;
}

QString LibusbTransport::productName(uint16_t vendorId, uint16_t productId) {
    if (ensureContext() < 0) return {};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_->ctx, &list);
    if (count < 0) return {};
    QString name;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) < 0) continue;
        if (descriptor.idVendor != vendorId || descriptor.idProduct != productId) continue;
        if (descriptor.iProduct == 0) continue;
        libusb_device_handle* handle = nullptr;
        if (libusb_open(list[i], &handle) < 0) continue;
        const QString text = readStringDescriptor(handle, descriptor.iProduct);
        libusb_close(handle);
        if (!text.isEmpty()) name = text;
    }
    libusb_free_device_list(list, 1);
    return name;
}

}  // namespace h8
