#include "emulated/emulated_usb_transport.h"

#include <QMetaObject>
#include <chrono>
#include <thread>

namespace h8::emulated {

// One attachment of a slot's device; handles keep it alive and see when it is detached.
struct EmulatedUsbTransport::Attachment {
    UsbDeviceId id = 0;
    EmulatedH8* model = nullptr;
    bool attached = true;
};

namespace {

class EmulatedHandle : public UsbDeviceHandle {
public:
    explicit EmulatedHandle(std::shared_ptr<const void> attachment, EmulatedH8* model,
                            const bool* attached)
        : keepAlive_(std::move(attachment)), model_(model), attached_(attached) {}

    int deviceInfo(UsbDeviceInfo* info) override {
        const std::vector<uint8_t> d = EmulatedH8::deviceDescriptor();
        info->vendorId = static_cast<uint16_t>(d[8] | d[9] << 8);
        info->productId = static_cast<uint16_t>(d[10] | d[11] << 8);
        info->bcdDevice = static_cast<uint16_t>(d[12] | d[13] << 8);
        return kUsbSuccess;
    }

    int firstInterfaceNumber(int* number) override {
        const std::vector<uint8_t> c = EmulatedH8::configDescriptor();
        // The first interface descriptor follows the 9-byte configuration descriptor.
        if (c.size() < 18 || c[4] == 0) return kUsbErrorNotFound;
        *number = c[9 + 2];
        return kUsbSuccess;
    }

    int controlTransfer(const UsbSetup& setup, uint8_t* data, unsigned timeoutMs) override {
        if (!*attached_) return kUsbErrorNoDevice;
        // A hung interface answers nothing: the caller waits out its time-out.
        if (model_->fault() == EmulatedH8::Fault::Hang)
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return model_->handleControl(setup, data);
    }

private:
    std::shared_ptr<const void> keepAlive_;
    EmulatedH8* model_;
    const bool* attached_;
};

}  // namespace

EmulatedUsbTransport::EmulatedUsbTransport(QObject* parent) : UsbTransport(parent) {
    for (auto& slot : slots_) slot = std::make_unique<Slot>();
    // The second unit is another H8, with a serial number of its own.
    slots_[1]->model.setSerial({0x56, 0x78, 0xEF, 0x01});
}

EmulatedUsbTransport::~EmulatedUsbTransport() {
    // Handles may outlive the transport; they then see a detached device.
    for (auto& slot : slots_) {
        if (slot->attachment) slot->attachment->attached = false;
    }
}

EmulatedH8& EmulatedUsbTransport::model(int slot) {
    return slots_.at(slot - 1)->model;
}

bool EmulatedUsbTransport::isPlugged(int slot) const {
    return slots_.at(slot - 1)->attachment != nullptr;
}

void EmulatedUsbTransport::plug(int slot) {
    Slot& s = *slots_.at(slot - 1);
    if (s.attachment) return;
    s.attachment = std::make_shared<Attachment>(Attachment{nextId_++, &s.model, true});
    if (monitoring_) {
        const UsbDeviceId id = s.attachment->id;
        QMetaObject::invokeMethod(
            this, [this, id] { emit deviceArrived(id); }, Qt::QueuedConnection);
    }
}

void EmulatedUsbTransport::unplug(int slot) {
    Slot& s = *slots_.at(slot - 1);
    if (!s.attachment) return;
    s.attachment->attached = false;
    const UsbDeviceId id = s.attachment->id;
    s.attachment.reset();
    if (monitoring_) {
        QMetaObject::invokeMethod(
            this, [this, id] { emit deviceLeft(id); }, Qt::QueuedConnection);
    }
}

int EmulatedUsbTransport::startMonitoring(uint16_t vendorId, uint16_t productId,
                                          QList<UsbDeviceId>* present) {
    monitoring_ = vendorId == kVendorId && productId == kProductId;
    present->clear();
    if (!monitoring_) return kUsbSuccess;
    for (auto& slot : slots_) {
        if (slot->attachment) present->append(slot->attachment->id);
    }
    return kUsbSuccess;
}

EmulatedUsbTransport::Slot* EmulatedUsbTransport::slotFor(UsbDeviceId id) {
    for (auto& slot : slots_) {
        if (slot->attachment && slot->attachment->id == id) return slot.get();
    }
    return nullptr;
}

int EmulatedUsbTransport::open(UsbDeviceId id, std::unique_ptr<UsbDeviceHandle>* handle) {
    Slot* slot = slotFor(id);
    if (!slot) return kUsbErrorNoDevice;
    if (openFailure_ != kUsbSuccess) return openFailure_;
    if (slot->model.accessDenied()) return kUsbErrorAccess;
    const std::shared_ptr<Attachment>& a = slot->attachment;
    *handle = std::make_unique<EmulatedHandle>(a, a->model, &a->attached);
    return kUsbSuccess;
}

QString EmulatedUsbTransport::portPath(UsbDeviceId id) {
    for (int i = 0; i < kSlots; ++i) {
        if (slots_[i]->attachment && slots_[i]->attachment->id == id) return QString::number(i + 1);
    }
    return {};
}

QString EmulatedUsbTransport::serialNumber(UsbDeviceId id) {
    for (auto& slot : slots_) {
        if (slot->attachment && slot->attachment->id == id) return slot->model.serialText();
    }
    return {};
}

QString EmulatedUsbTransport::productName(uint16_t vendorId, uint16_t productId) {
    if (vendorId != kVendorId || productId != kProductId) return {};
    for (auto& slot : slots_) {
        if (slot->attachment) return EmulatedH8::productName();
    }
    return {};
}

}  // namespace h8::emulated
