#include "emulated/umockdev/umockdev_h8_bed.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emulated/emulated_h8.h"
#include "emulated/umockdev/usbfs_device.h"

namespace h8::emulated {
namespace {

// Both slots hang off root hub 1: slot 1 at address 2, slot 2 at address 3.
constexpr int kBus = 1;
int addressOf(int slot) {
    return slot + 1;
}

constexpr const char* kSysfsPaths[] = {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1",
                                       "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"};
constexpr const char* kDeviceNodes[] = {"/dev/bus/usb/001/002", "/dev/bus/usb/001/003"};

std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0xF];
    }
    return text;
}

std::string format(const char* pattern, auto... args) {
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    std::string text(static_cast<size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, args...);
    return text;
}

// The udev database entry of one slot, in umockdev's text format. An attribute written as
// "\n" (backslash, n) in the value gets a real trailing newline, as the kernel's files have;
// libudev needs it on busnum, devnum and speed.
std::string deviceDescription(int slot) {
    std::vector<uint8_t> descriptors = EmulatedH8::deviceDescriptor();
    const std::vector<uint8_t> config = EmulatedH8::configDescriptor();
    descriptors.insert(descriptors.end(), config.begin(), config.end());
    const std::string bytes = hex(descriptors);
    const int address = addressOf(slot);
    const int minor = (kBus - 1) * 128 + address - 1;
    const char* path = kSysfsPaths[slot - 1] + std::strlen("/sys");
    return format(
        "P: %s\n"
        "N: bus/usb/%03d/%03d=%s\n"
        "E: SUBSYSTEM=usb\n"
        "E: DEVTYPE=usb_device\n"
        "E: DEVNAME=/dev/bus/usb/%03d/%03d\n"
        "E: BUSNUM=%03d\n"
        "E: DEVNUM=%03d\n"
        "E: PRODUCT=%x/%x/%x\n"
        "E: MAJOR=189\n"
        "E: MINOR=%d\n"
        "A: busnum=%d\\n\n"
        "A: devnum=%d\\n\n"
        "A: dev=189:%d\n"
        "A: speed=480\\n\n"
        "A: idVendor=%04x\n"
        "A: idProduct=%04x\n"
        "A: bcdDevice=%04x\n"
        "A: bConfigurationValue=1\n"
        "A: bNumConfigurations=1\n"
        "H: descriptors=%s\n",
        path, kBus, address, bytes.c_str(), kBus, address, kBus, address, kVendorId, kProductId,
        EmulatedH8::kBcdDevice, minor, kBus, address, minor, kVendorId, kProductId,
        EmulatedH8::kBcdDevice, bytes.c_str());
}

void checkSlot(int slot) {
    if (slot < 1 || slot > UmockdevH8Bed::kSlots) qFatal("UmockdevH8Bed: no slot %d", slot);
}

}  // namespace

struct UmockdevH8Bed::Testbed {
    UMockdevTestbed* testbed = umockdev_testbed_new();
    ~Testbed() { g_object_unref(testbed); }
};

struct UmockdevH8Bed::Slot {
    UsbfsDevice device;
    bool attached = false;  // the handler stays attached to the node across unplug and plug
    bool plugged = false;
};

UmockdevH8Bed::UmockdevH8Bed() : testbed_(std::make_unique<Testbed>()) {
    for (auto& slot : slots_) slot = std::make_unique<Slot>();
}

UmockdevH8Bed::~UmockdevH8Bed() {
    testbed_.reset();  // before the handlers: it stops serving the device nodes
}

bool UmockdevH8Bed::preloadActive() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

const char* UmockdevH8Bed::sysfsPath(int slot) {
    checkSlot(slot);
    return kSysfsPaths[slot - 1];
}

const char* UmockdevH8Bed::deviceNode(int slot) {
    checkSlot(slot);
    return kDeviceNodes[slot - 1];
}

UmockdevH8Bed::Slot& UmockdevH8Bed::slotAt(int slot) const {
    checkSlot(slot);
    return *slots_[slot - 1];
}

void UmockdevH8Bed::plug(int slot, EmulatedH8* model) {
    Slot& s = slotAt(slot);
    if (s.plugged) qFatal("UmockdevH8Bed: slot %d is already plugged", slot);
    if (model == nullptr) qFatal("UmockdevH8Bed: slot %d plugged without a model", slot);
    GError* error = nullptr;
    if (!s.attached) {
        if (!umockdev_testbed_attach_ioctl(testbed_->testbed, deviceNode(slot), s.device.handler(),
                                           &error)) {
            qFatal("UmockdevH8Bed: cannot attach %s: %s", deviceNode(slot), error->message);
        }
        s.attached = true;
    }
    s.device.connect(model);
    // Creates the sysfs entry and the node, and sends the "add" uevent.
    if (!umockdev_testbed_add_from_string(testbed_->testbed, deviceDescription(slot).c_str(),
                                          &error)) {
        qFatal("UmockdevH8Bed: cannot add slot %d: %s", slot, error->message);
    }
    s.plugged = true;
}

void UmockdevH8Bed::unplug(int slot) {
    Slot& s = slotAt(slot);
    if (!s.plugged) return;
    s.device.disconnect();
    // The uevent carries the properties read from sysfs, so it must go out before the entry
    // disappears; removing the device does not send it by itself.
    umockdev_testbed_uevent(testbed_->testbed, sysfsPath(slot), "remove");
    umockdev_testbed_remove_device(testbed_->testbed, sysfsPath(slot));
    s.plugged = false;
}

bool UmockdevH8Bed::isPlugged(int slot) const {
    return slotAt(slot).plugged;
}

unsigned UmockdevH8Bed::urbCount(int slot) const {
    return slotAt(slot).device.urbCount();
}

void UmockdevH8Bed::setRequestHook(int slot, std::function<bool(const UsbSetup&)> hook) {
    slotAt(slot).device.setRequestHook(std::move(hook));
}
}  // namespace h8::emulated
