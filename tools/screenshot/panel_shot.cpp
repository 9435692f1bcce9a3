// h8-panel-shot FILE.png [stack|matrix]: the main panel bound to the emulated H8 (in-process
// USB and audio), with a few routes, meters running and the hardware poll read once, saved as
// a PNG for checking by eye. Runs offscreen; never touches the user's settings.

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/hardware_monitor.h"
#include "core/hardware_poller.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/clock.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "ui/sections/main_contain_view.h"
#include "ui/sections/matrix_panels.h"

using namespace h8;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: h8-panel-shot FILE.png [stack|matrix]\n");
        return 1;
    }
    QTemporaryDir scratch;
    qputenv("H8_CONFIG_DIR", (scratch.path() + "/config").toUtf8());
    qputenv("H8_LOG_DIR", (scratch.path() + "/logs").toUtf8());
    QApplication app(argc, argv);
    const bool matrix = argc > 2 && QString(argv[2]) == "matrix";

    emulated::EmulatedUsbTransport usb;
    usb.model().setGainCode(1, 120);
    usb.model().setGainCode(2, 60);
    usb.model().setPhantomPower(1, true);
    usb.model().setInstrumentMode(2, true);
    usb.model().setInputType(1, true);
    usb.model().setOtgPlugged(true);
    usb.plug();
    UsbInterface usbInterface;
    const UsbInterface::Installation installed(usbInterface);
    startUSBMonitoring(usb, usbInterface);
    emulated::EmulatedAudioBackend audio(usb.model());
    SimplyCoreAudio::setBackend(&audio);
    SimplyCoreAudio simply;

    // A few routes besides the default playback 1-2 to the headphones, and some names.
    QVariantList map;
    const QList<QPair<int, int>> routes = {{4, 0}, {5, 1}, {0, 4}, {1, 5},  {2, 2},
                                           {3, 3}, {6, 6}, {7, 7}, {11, 11}};
    for (int d = 0; d < 16; ++d) {
        QVariantList flags;
        for (int s = 0; s < 16; ++s) flags.append(routes.contains({s, d}));
        map.append(QVariant(flags));
    }
    NorvShareHelper::shared().setChannelMapArray(map);
    UserDefaults::standard().setString("channelRowName2", "Vocal");
    UserDefaults::standard().setString("channelRowName6", "Music");
    UserDefaults::standard().setString("channelName6", "Stream mix");
    UserDefaults::standard().setInteger("OTGOutVolume", 64);

    RoutingModel routing(UserDefaults::standard(), NotificationCenter::defaultCenter());
    NorvShareHelper::shared().audio =
        std::make_shared<NorvAudioHelper>(findH8AudioDevice(simply.allDevices()), routing);
    SystemClock clock;
    HardwareMonitor monitor(usbInterface, NorvShareHelper::shared(), UserDefaults::standard());
    HardwarePoller poller(monitor, NorvShareHelper::shared(), clock);
    ui::NorvMainContainView panel({routing, poller, clock, NorvShareHelper::shared(),
                                   UserDefaults::standard(), NotificationCenter::defaultCenter()});
    panel.setWindowTitle("H8 Controller");
    panel.show();
    if (matrix) panel.tMidView->rightBtnClick();

    int status = 1;
    QTimer::singleShot(1200, [&] {
        status = panel.grab().save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
        std::printf("%s %s\n", status == 0 ? "saved" : "could not save", argv[1]);
        app.quit();
    });
    app.exec();
    NorvShareHelper::shared().audio.reset();
    stopUSBMonitoring();
    return status;
}
