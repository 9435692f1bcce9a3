// h8-controller: the desktop control panel of the H8.
//
//   h8-controller [--simulate[=STATE_FILE]]
//
// Without --simulate it works with the real interface (libusb and PipeWire) and shows the
// disconnected view until one is plugged in. With --simulate it runs on the emulated H8, whose
// state is kept in STATE_FILE (default: <config folder>/emulated-h8.json); a "Simulation" menu
// unplugs and re-plugs it and turns its physical controls.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app_delegate.h"
#include "core/audio_devices.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/audio/pipewire_backend.h"
#include "platform/diagnostics.h"
#include "platform/libusb_transport.h"
#include "platform/paths.h"

namespace {

constexpr const char* kUsage = R"(Usage: h8-controller [--simulate[=STATE_FILE]]

The control panel of the H8 USB audio interface.

  --simulate[=STATE_FILE]  run on the emulated H8 instead of USB and the sound server; its
                           state is kept in STATE_FILE (default: <config folder>/emulated-h8.json)
  --quit-after-ms N        quit after N milliseconds (for automated runs)
  --screenshot FILE        with --quit-after-ms: save the window as a PNG before quitting
  -h, --help               show this help
)";

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("H8 Controller"));
    QApplication::setOrganizationDomain(QStringLiteral("h8controller.org"));

    bool simulate = false;
    QString stateFile;
    int quitAfterMs = -1;
    QString screenshot;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--simulate") {
            simulate = true;
        } else if (a.startsWith("--simulate=")) {
            simulate = true;
            stateFile = a.mid(11);
        } else if (a == "--quit-after-ms" && i + 1 < args.size()) {
            quitAfterMs = args[++i].toInt();
        } else if (a == "--screenshot" && i + 1 < args.size()) {
            screenshot = args[++i];
        } else {
            std::fprintf(stderr, "h8-controller: unknown argument '%s'\n%s", qPrintable(a), kUsage);
            return 1;
        }
    }

    // The store's log file starts afresh at each launch.
    h8::NorvShareHelper::shared();

    std::unique_ptr<h8::UsbTransport> usb;
    std::unique_ptr<h8::AudioBackend> audio;
    h8::emulated::EmulatedUsbTransport* sim = nullptr;
    h8::emulated::EmulatedAudioBackend* simAudio = nullptr;
    QTimer saveTimer;
    if (simulate) {
        auto emulatedUsb = std::make_unique<h8::emulated::EmulatedUsbTransport>();
        sim = emulatedUsb.get();
        if (stateFile.isEmpty()) stateFile = h8::configDir() + "/emulated-h8.json";
        QString error;
        if (!sim->model().loadOrCreate(stateFile, &error)) {
            std::fprintf(stderr, "h8-controller: %s\n", qPrintable(error));
            return 2;
        }
        // Keep the emulated H8's state between runs: saved shortly after each change.
        saveTimer.setSingleShot(true);
        saveTimer.setInterval(500);
        QObject::connect(&saveTimer, &QTimer::timeout, [sim, stateFile] {
            QString e;
            if (!sim->model().save(stateFile, &e))
                h8::diag("Cannot save the emulated H8: " + e.toStdString());
        });
        sim->model().setChangeListener([&saveTimer] {
            QMetaObject::invokeMethod(&saveTimer, qOverload<>(&QTimer::start),
                                      Qt::QueuedConnection);
        });
        auto emulatedAudio = std::make_unique<h8::emulated::EmulatedAudioBackend>(sim->model());
        simAudio = emulatedAudio.get();
        audio = std::move(emulatedAudio);
        sim->plug();
        usb = std::move(emulatedUsb);
    } else {
        QString error;
        audio = h8::PipeWireBackend::create(&error);
        if (!audio)
            h8::diag("No sound server: " + error.toStdString() +
                     " (levels and sample rate unavailable)");
        usb = std::make_unique<h8::LibusbTransport>();
    }
    h8::SimplyCoreAudio::setBackend(audio.get());
    h8::IOUSBHelper::setAudioDeviceUidSource([] {
        QStringList uids;
        if (h8::AudioBackend* b = h8::SimplyCoreAudio::backend()) {
            for (const auto& d : b->devices()) uids.append(d.uid);
        }
        return uids;
    });

    int status = 0;
    {
        h8::AppDelegate window(*usb, sim, simAudio);
        window.show();
        // The window and its controller exist (and observe the USB notifications) before USB
        // monitoring starts, so an interface that is already plugged in is bound at once.
        window.applicationDidFinishLaunching();
        if (quitAfterMs >= 0) {
            QTimer::singleShot(quitAfterMs, &app, [&window, screenshot] {
                if (!screenshot.isEmpty() && !window.grab().save(screenshot))
                    h8::diag("Cannot save " + screenshot.toStdString());
                QApplication::quit();
            });
        }
        status = QApplication::exec();
        h8::stopUSBMonitoring();
        h8::NorvShareHelper::shared().audio.reset();
    }
    if (sim) {
        sim->model().setChangeListener(nullptr);
        QString error;
        if (!sim->model().save(stateFile, &error))
            std::fprintf(stderr, "h8-controller: %s\n", qPrintable(error));
    }
    h8::SimplyCoreAudio::setBackend(nullptr);
    return status;
}
