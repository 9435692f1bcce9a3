// The USB device session: watches the bus for the H8 (vendor 0x309C, product 0x0018), opens the
// first matching device, publishes its identity into the shared state store and posts
// "rawDeviceAdded" / "rawDeviceRemoved". Runs on the main thread for the life of the process.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

#include "core/notification_names.h"
#include "core/usb_interface.h"
#include "platform/audio/audio_backend.h"
#include "platform/usb_transport.h"

namespace h8 {

inline constexpr uint16_t kH8VendorId = 0x309C;
inline constexpr uint16_t kH8ProductId = 0x0018;

using notify::kRawDeviceAdded;
using notify::kRawDeviceRemoved;

// Starts watching through `transport`, opening an accepted device in `usb` (the interface the
// request functions use, so the identity of the device can be read: the installed one). Both
// must live as long as the process watches. A device that is already attached is opened, and
// "rawDeviceAdded" posted, before this returns. Returns false when the platform's USB access
// could not start (the reason is printed).
bool startUSBMonitoring(UsbTransport& transport, UsbInterface& usb);

// Stops watching and forgets the transport (tests and clean shutdown); the interface's handle
// is released.
void stopUSBMonitoring();

// Lets go of the H8 as an unplug does ("rawDeviceRemoved" when one was open, its handle
// released) and opens no H8 until reclaimUSBDevice(): another user's session may own it now.
// Plugs and unplugs meanwhile are only noted.
void releaseUSBDevice();
// Opens the H8 again, as on an arrival, after releaseUSBDevice(); nothing otherwise.
void reclaimUSBDevice();
bool isUSBDeviceReleased();

// The two commands that give the logged-in user access to the H8: the udev rule that h8ctl
// prints, installed by hand, or the package, which installs it.
inline constexpr char kUdevRuleInstallCommand[] =
    "h8ctl udev-rule | sudo tee /etc/udev/rules.d/70-h8-controller.rules && sudo udevadm control "
    "--reload && sudo udevadm trigger";
inline constexpr char kPackageInstallCommand[] =
    "sudo apt install ./build/package/h8-controller_*_amd64.deb";

// The one line logged when the H8 cannot be opened for lack of permission.
QString usbPermissionHint();

class IOUSBHelper {
public:
    // The USB product name of the attached device with these ids; empty when there is none.
    static QString getpNameWitKidVendor(int vendor, int product);
    // The identifier of the audio device of the USB device with these ids that was just opened:
    // the listed device with USB transport whose model identifier carries them and which is the
    // same unit (its serial number and port path; any other USB sound card, and another H8,
    // are passed over). Empty when the audio devices do not list it (yet).
    static QString getUSBDeviceUidWitKidVendor(int vendor, int product);

    // Where the audio devices come from (the audio device layer installs it).
    static void setAudioDeviceSource(std::function<QList<AudioDeviceInfo>()> source);
};

}  // namespace h8
