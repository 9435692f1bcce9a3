// One emulated usbfs device node: answers the usbdevfs ioctls that libusb issues on Linux and
// runs every control URB through an EmulatedH8 model.
//
// umockdev calls the handler on its own worker thread; the methods of UsbfsDevice are called
// from the test's thread. Both sides meet under one mutex, and the model is thread-safe itself.
#pragma once

// gio's headers use `signals` as a member name, which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <umockdev.h>
#pragma pop_macro("signals")

#include <functional>

#include "platform/usb_transport.h"

namespace h8::emulated {

class EmulatedH8;

class UsbfsDevice {
public:
    UsbfsDevice();
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    // The handler to attach to the device node with umockdev_testbed_attach_ioctl().
    UMockdevIoctlBase* handler() const { return handler_; }

    // From now on URBs go to `model` (not owned).
    void connect(EmulatedH8* model);
    // From now on URBs fail with ENODEV; URBs in flight complete with ESHUTDOWN, as the kernel
    // gives them back when the device goes away.
    void disconnect();
    // Control URBs accepted since creation.
    unsigned urbCount() const;

    // Called on umockdev's worker thread for every control URB of a connected device, before
    // the model answers it. Returning false makes the device vanish at that request, as a cable
    // pulled in the middle of a transfer does: the URB fails with ENODEV, URBs in flight
    // complete with ESHUTDOWN, and the device stays disconnected (the owner sends the uevent).
    using RequestHook = std::function<bool(const UsbSetup&)>;
    void setRequestHook(RequestHook hook);

private:
    UMockdevIoctlBase* handler_;  // owns the state; the testbed holds its own reference
};

}  // namespace h8::emulated
