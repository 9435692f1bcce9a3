// Serves emulated H8 devices to unmodified libusb through umockdev: a testbed with fake sysfs
// entries and usbfs device nodes whose ioctls are answered by an EmulatedH8 model.
//
// The process must run under umockdev's preload library (`umockdev-wrapper prog` or
// `umockdev-run -- prog`), and the bed must be created before the first libusb_init() of the
// process, because libusb reads the device list and starts its hot-plug monitor there. Child
// processes inherit the bed through $UMOCKDEV_DIR and LD_PRELOAD and see the same devices.
#pragma once

#include <array>
#include <functional>
#include <memory>

#include "platform/usb_transport.h"

namespace h8::emulated {

class EmulatedH8;

class UmockdevH8Bed {
public:
    static constexpr int kSlots = 2;

    // Creates the testbed and sets $UMOCKDEV_DIR. Only one bed may exist per process.
    UmockdevH8Bed();
    ~UmockdevH8Bed();
    UmockdevH8Bed(const UmockdevH8Bed&) = delete;
    UmockdevH8Bed& operator=(const UmockdevH8Bed&) = delete;

    // True when umockdev's preload library is loaded into this process (the bed has no effect
    // on libusb otherwise).
    static bool preloadActive();

    // Plugs in emulated H8 number `slot` (1 or 2; each slot has its own bus address) answered by
    // `model`, which must outlive the plug. libusb sees an "add" uevent. A slot may be plugged
    // again after unplug(), with the same or another model; plugging a plugged slot aborts.
    void plug(int slot, EmulatedH8* model);
    // Unplugs the device in `slot`: URBs still in flight complete with ESHUTDOWN, new ones fail
    // with ENODEV, and libusb sees a "remove" uevent. Does nothing when the slot is empty.
    void unplug(int slot);
    bool isPlugged(int slot) const;
    // Number of control URBs submitted to `slot` since the bed was created.
    unsigned urbCount(int slot) const;
    // Sees every control request to `slot` before its model does, on umockdev's worker thread;
    // returning false makes the device vanish at that request (see UsbfsDevice). The slot then
    // counts as plugged until unplug() sends the "remove" uevent.
    void setRequestHook(int slot, std::function<bool(const UsbSetup&)> hook);

    // sysfs path and device node of a slot ("/sys/devices/.../usb1/1-1", "/dev/bus/usb/001/002").
    static const char* sysfsPath(int slot);
    static const char* deviceNode(int slot);

private:
    struct Testbed;
    struct Slot;

    Slot& slotAt(int slot) const;

    std::unique_ptr<Testbed> testbed_;
    std::array<std::unique_ptr<Slot>, kSlots> slots_;
};

}  // namespace h8::emulated
