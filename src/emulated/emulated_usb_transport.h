// The in-process USB backend: serves emulated H8 devices to the device session without any
// USB stack, for --simulate and for tests. Up to two devices ("slots") can be attached, so that
// a second matching interface can be tried too.
#pragma once

#include <array>
#include <memory>

#include "emulated/emulated_h8.h"
#include "platform/usb_transport.h"

namespace h8::emulated {

class EmulatedUsbTransport : public UsbTransport {
    Q_OBJECT
public:
    static constexpr int kSlots = 2;

    explicit EmulatedUsbTransport(QObject* parent = nullptr);
    ~EmulatedUsbTransport() override;

    // The model behind slot 1 or 2 (always present, attached or not).
    EmulatedH8& model(int slot = 1);

    // Attaches or detaches a slot. While monitoring, the arrival or removal is reported with a
    // queued call, as a real hot-plug event arrives. Open handles of a detached device fail
    // with kUsbErrorNoDevice.
    void plug(int slot = 1);
    void unplug(int slot = 1);
    bool isPlugged(int slot = 1) const;

    // Makes open() fail with `status` (kUsbSuccess to clear), e.g. kUsbErrorAccess.
    void setOpenFailure(int status) { openFailure_ = status; }

    int startMonitoring(uint16_t vendorId, uint16_t productId,
                        QList<UsbDeviceId>* present) override;
    int open(UsbDeviceId id, std::unique_ptr<UsbDeviceHandle>* handle) override;
    QString productName(uint16_t vendorId, uint16_t productId) override;
    // Slot 1 hangs from port 1, slot 2 from port 2.
    QString portPath(UsbDeviceId id) override;
    QString serialNumber(UsbDeviceId id) override;

private:
    struct Attachment;
    struct Slot {
        EmulatedH8 model;
        std::shared_ptr<Attachment> attachment;  // null while unplugged
    };
    Slot* slotFor(UsbDeviceId id);

    std::array<std::unique_ptr<Slot>, kSlots> slots_;
    bool monitoring_ = false;
    UsbDeviceId nextId_ = 1;
    int openFailure_ = kUsbSuccess;
};

}  // namespace h8::emulated
