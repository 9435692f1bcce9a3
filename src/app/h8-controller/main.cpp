// h8-controller: the desktop control panel of the H8.
//
//   h8-controller [--simulate[=STATE_FILE]] [--background]
//
// Without --simulate it works with the real interface (libusb and PipeWire) and shows the
// disconnected view until one is plugged in. With --simulate it runs on the emulated H8, whose
// state is kept in STATE_FILE (default: <config folder>/emulated-h8.json); a "Simulation" menu
// unplugs and re-plugs it and turns its physical controls.

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDateTime>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/autostart/app_auto_start_utils.h"
#include "app_delegate.h"
#include "app_identity.h"
#include "automation.h"
#include "core/audio_devices.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "login_session_follower.h"
#include "panel_service.h"
#include "panel_tray.h"
#include "platform/audio/pipewire_backend.h"
#include "platform/clock.h"
#include "platform/dbus/bus_names.h"
#include "platform/dbus/desktop_shell.h"
#include "platform/dbus/login_session.h"
#include "platform/diagnostics.h"
#include "platform/file_lock.h"
#include "platform/libusb_transport.h"
#include "platform/paths.h"
#include "platform/translations.h"
#include "platform/user_defaults.h"
#include "ui/accessibility/accessible_panel.h"
#include "ui/sections/main_contain_view.h"
#include "view_controller.h"

namespace {

constexpr const char* kUsage = QT_TRANSLATE_NOOP(
    "h8-controller",
    R"(Usage: h8-controller [--simulate[=STATE_FILE] [--no-sound-server]] [OPTION]...

The control panel of the H8 USB audio interface.

  --simulate[=STATE_FILE]  run on the emulated H8 instead of USB and the sound server; its
                           state is kept in STATE_FILE (default: <config folder>/emulated-h8.json)
  --no-sound-server        with --simulate: start as on a desktop without a sound server (the
                           "Simulation" menu starts one)
  --background             start without showing the window (as at login); a second start,
                           the tray icon or the desktop's launcher shows it
  --quit-after-ms N        quit after N milliseconds (for automated runs)
  --screenshot FILE        with --quit-after-ms: save the window as a PNG before quitting
  --trace                  print every control transfer to standard error
  --automation FILE        run the commands of FILE once the window is up (see automation.h)
  -h, --help               show this help
)");

QString usage() {
    return QCoreApplication::translate("h8-controller", kUsage);
}

}  // namespace

// With H8_REPORT_STARTUP=1: prints when the bound panel was first painted (time since the
// program started) and, on quitting, the resident memory.
class StartupReport : public QObject {
public:
    explicit StartupReport(qint64 startedMs) : startedMs_(startedMs) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!done_ && event->type() == QEvent::Paint &&
            qobject_cast<h8::ui::NorvMainContainView*>(watched)) {
            done_ = true;
            std::printf("first frame of the bound panel after %lld ms\n",
                        static_cast<long long>(QDateTime::currentMSecsSinceEpoch() - startedMs_));
            std::fflush(stdout);
        }
        return false;
    }
    static void printResidentMemory() {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly)) return;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                std::printf("resident memory: %s\n", line.mid(6).trimmed().constData());
        }
    }

private:
    qint64 startedMs_;
    bool done_ = false;
};

// SIGTERM and SIGINT (a logout, Ctrl+C) quit through the event loop, so that what is pending
// (the preferences, the emulated H8's state) is written as on a normal quit.
int g_signalPipe[2] = {-1, -1};

void onQuitSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

void quitOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        h8::diag("Cannot watch for SIGTERM/SIGINT: pending preferences may be lost on them");
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

// Makes this process the session's one panel of its target: the owner of the target's name on
// the session bus and the holder of its panel lock (which alone keeps to one panel without a
// session bus). When another panel holds either, it is asked to bring its window forward and
// the exit code to leave with is returned.
std::optional<int> becomeTheOnlyPanel(h8::PanelService& service, h8::FileLock& panelLock) {
    const h8::Target& target = service.target();
    const QString name = target.busName();
    QDBusConnection bus = service.connection();
    bool onBus = false;
    if (bus.isConnected()) {
        QString error;
        // The object first: whoever sees the name finds the object behind it.
        if (!service.registerObject(&error))
            h8::diag("Cannot put the panel's object on the session bus: " + error.toStdString());
        switch (h8::claimBusName(bus, name, &error)) {
            case h8::NameClaim::owned:
                onBus = true;
                break;
            case h8::NameClaim::taken:
                if (!h8::activateRunningApplication(bus, name, target.objectPath(), 5000, &error)) {
                    std::fprintf(stderr, "h8-controller: %s already runs but did not answer: %s\n",
                                 qPrintable(name), qPrintable(error));
                    return 1;
                }
                std::printf("h8-controller: already running; its window was brought forward\n");
                return 0;
            case h8::NameClaim::failed:
                h8::diag("Cannot own " + name.toStdString() +
                         " on the session bus: " + error.toStdString());
                break;
        }
    } else {
        h8::diag("No D-Bus session bus (" + bus.lastError().message().toStdString() +
                 "): other programs cannot reach the panel");
    }
    if (!panelLock.tryLock()) {
        if (!panelLock.error().isEmpty()) {
            h8::diag("Cannot take the panel lock: " + panelLock.error().toStdString());
            return std::nullopt;
        }
        const std::optional<qint64> holder = panelLock.holder();
        std::fprintf(stderr, "h8-controller: already running (process %lld)%s\n",
                     static_cast<long long>(holder.value_or(0)),
                     onBus ? "" : "; without a session bus its window cannot be brought forward");
        return 0;
    }
    return std::nullopt;
}

// When the process started, from /proc (so that loading the program counts too).
qint64 processStartMs() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!stat.open(QIODevice::ReadOnly) || !uptime.open(QIODevice::ReadOnly))
        return QDateTime::currentMSecsSinceEpoch();
    const QByteArray s = stat.readAll();
    const QList<QByteArray> fields = s.mid(s.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();  // field 22: starttime
    const double upSeconds = uptime.readAll().split(' ').value(0).toDouble();
    const double ageSeconds = upSeconds - startTicks / sysconf(_SC_CLK_TCK);
    return QDateTime::currentMSecsSinceEpoch() - static_cast<qint64>(ageSeconds * 1000);
}

int main(int argc, char** argv) {
    const qint64 startedMs = processStartMs();
    // On X11, Qt hands repaints to the server through shared memory and then waits for the
    // server (one round trip, and a wake-up of Qt's X reader thread) before it paints the same
    // pixels again. The meters repaint small strips twenty times a second, for which sending
    // the pixels over the connection costs less than that wait. The user's own setting wins.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    // On Wayland, Qt watches for a compositor that stops answering the window's frames (it then
    // treats the window as hidden) with a timer of the watch's length, 100 ms by default, that
    // repeats as long as the window draws: with the meters moving, ten more wake-ups a second.
    // A one-second watch wakes once a second; a hidden window only stops its meters and capture
    // a second later. The user's own setting wins.
    if (!qEnvironmentVariableIsSet("QT_WAYLAND_FRAME_CALLBACK_TIMEOUT"))
        qputenv("QT_WAYLAND_FRAME_CALLBACK_TIMEOUT", "1000");
    QApplication app(argc, argv);
    h8::registerBusTypes();
    h8::installTranslations(app, h8::uiLanguage());
    h8::ui::installAccessibleInterfaces();
    std::unique_ptr<StartupReport> report;
    if (qEnvironmentVariableIsSet("H8_REPORT_STARTUP")) {
        report = std::make_unique<StartupReport>(startedMs);
        app.installEventFilter(report.get());
    }
    h8::setApplicationIdentity();

    // The interface's control path, for the whole run.
    h8::UsbInterface usbInterface;
    const h8::UsbInterface::Installation installed(usbInterface);
    h8::SystemClock clock;
    bool simulate = false;
    bool noSoundServer = false;
    bool background = false;
    QString stateFile;
    int quitAfterMs = -1;
    QString screenshot;
    QStringList automationScript;
    QStringList args = QApplication::arguments();
    args.removeFirst();
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "-h" || a == "--help") {
            std::fputs(qPrintable(usage()), stdout);
            return 0;
        } else if (a == "--simulate") {
            simulate = true;
        } else if (a.startsWith("--simulate=")) {
            simulate = true;
            stateFile = a.mid(11);
        } else if (a == "--no-sound-server") {
            noSoundServer = true;
        } else if (a == "--background") {
            background = true;
        } else if (a == "--quit-after-ms" && i + 1 < args.size()) {
            quitAfterMs = args[++i].toInt();
        } else if (a == "--screenshot" && i + 1 < args.size()) {
            screenshot = args[++i];
        } else if (a == "--trace") {
            usbInterface.setTraceSink([](const std::string& line) {
                std::fprintf(stderr, "%s\n", line.c_str());
                std::fflush(stderr);
            });
        } else if (a == "--automation" && i + 1 < args.size()) {
            QFile file(args[++i]);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "h8-controller: cannot read %s\n",
                             qPrintable(file.fileName()));
                return 1;
            }
            automationScript = QString::fromUtf8(file.readAll()).split('\n');
        } else {
            std::fprintf(stderr, "%s\n%s",
                         qPrintable(QCoreApplication::translate(
                                        "h8-controller", "h8-controller: unknown argument '%1'")
                                        .arg(a)),
                         qPrintable(usage()));
            return 1;
        }
    }

    const h8::Target target = simulate ? h8::Target::emulated(stateFile) : h8::Target::hardware();
    // A demo keeps preferences of its own: whatever it does, the real interface is restored
    // from the real ones. Set before anything reads them.
    if (target.isEmulated())
        h8::UserDefaults::setStandard(std::make_unique<h8::UserDefaults>(target.preferencesFile()));

    // One panel per session (a demo's is apart): a second start brings the first one's window
    // forward and leaves, before it touches the log, the preferences or the interface.
    h8::PanelService service(QDBusConnection::sessionBus(), target);
    h8::FileLock panelLock(target.panelLockFile());
    if (const std::optional<int> leave = becomeTheOnlyPanel(service, panelLock)) return *leave;

    // The store's log file starts afresh at each launch.
    h8::NorvShareHelper::setLogFileName(target.logFileName());
    h8::NorvShareHelper::shared();
    // A burst of changes (typing a name, scrolling a level) is one write, not one per step.
    h8::UserDefaults::standard().setWriteDelay(250);
    quitOnSignals(app);

    // h8ctl holds the interface while one of its commands runs without a panel: wait for it
    // rather than poll beside it.
    h8::FileLock interfaceLock(target.interfaceLockFile());
    if (!interfaceLock.tryLock()) {
        if (interfaceLock.error().isEmpty()) {
            const std::optional<qint64> holder = interfaceLock.holder();
            h8::diag("Waiting for process " +
                     (holder ? std::to_string(*holder) : std::string("?")) +
                     " (h8ctl) to finish with the H8");
            if (!interfaceLock.lock(std::chrono::seconds(30)))
                h8::diag("The H8 is still in use by another program; going on beside it");
        } else {
            h8::diag("Cannot lock the interface: " + interfaceLock.error().toStdString());
        }
    }

    std::unique_ptr<h8::UsbTransport> usb;
    std::unique_ptr<h8::AudioBackend> audio;
    h8::emulated::EmulatedUsbTransport* sim = nullptr;
    h8::emulated::EmulatedAudioBackend* simAudio = nullptr;
    QTimer saveTimer;
    if (simulate) {
        auto emulatedUsb = std::make_unique<h8::emulated::EmulatedUsbTransport>();
        sim = emulatedUsb.get();
        stateFile = target.stateFile();
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
        // H8_SIMULATE_FAULT=stall|timeout|hang|hang@MS: an interface that fails every request
        // (hang: one that stops answering, from MS milliseconds after the start on);
        // denied|denied-until@MS: one this user may not open (until MS milliseconds after the
        // start), as without the udev rule.
        const QByteArray fault = qgetenv("H8_SIMULATE_FAULT");
        if (!fault.isEmpty() && !sim->model().setFaultFromText(fault))
            std::fprintf(stderr,
                         "h8-controller: H8_SIMULATE_FAULT=%s is not stall, timeout, hang, "
                         "hang@MS, denied or denied-until@MS; ignored\n",
                         fault.constData());
        auto emulatedAudio = std::make_unique<h8::emulated::EmulatedAudioBackend>(sim->model());
        simAudio = emulatedAudio.get();
        if (noSoundServer) simAudio->setServerRunning(false);
        audio = std::move(emulatedAudio);
        sim->plug();
        usb = std::move(emulatedUsb);
    } else {
        // Without a sound server the mixer still works over USB; the backend keeps looking for
        // one and the audio side attaches when it appears.
        QString error;
        audio = h8::PipeWireBackend::createReconnecting(&error);
        if (!error.isEmpty())
            h8::diag("No sound server (" + error.toStdString() +
                     "): input levels and the sample rate are unavailable until one runs; "
                     "routing, mutes, gains and presets work over USB");
        usb = std::make_unique<h8::LibusbTransport>();
    }
    h8::SimplyCoreAudio::setBackend(audio.get());
    h8::IOUSBHelper::setAudioDeviceSource([] {
        h8::AudioBackend* b = h8::SimplyCoreAudio::backend();
        return b ? b->devices() : QList<h8::AudioDeviceInfo>();
    });

    int status = 0;
    {
        // A demo on the emulated H8 is not an installation: it leaves the login items alone.
        if (!sim)
            h8::ViewController::setAutoStartHandler(
                [] { h8::AppAutoStartUtils::registerAtLaunch(); });
        h8::AppDelegate window(*usb, usbInterface, clock, sim, simAudio);
        if (!sim) {
            window.setLoginItem({[] { return h8::AppAutoStartUtils::isRegistered(); },
                                 [](bool on) { h8::AppAutoStartUtils::setUserChoice(on); }});
        }
        service.attach(&window, sim ? &sim->model() : nullptr);
        // The window only hides while the tray has the panel's icon; the program quits when the
        // window is closed without one, or from the icon's menu (not when a last alert closes
        // while the window is hidden).
        QApplication::setQuitOnLastWindowClosed(false);
        h8::BusTrayHost trayHost(service.connection());
        h8::PanelTray tray(service, window, trayHost);
        window.setCloseHides([&tray] { return tray.active(); });
        h8::BusNotifications notifications(service.connection());
        h8::HiddenProblems hiddenProblems(window, usbInterface, h8::UserDefaults::standard(),
                                          notifications);
        if (!background) window.show();
        // The window and its controller exist (and observe the USB notifications) before USB
        // monitoring starts, so an interface that is already plugged in is bound at once.
        window.applicationDidFinishLaunching();
        // Started in the background: nothing runs for a window nobody sees.
        window.updateExposure();
        // Suspend and resume, and switches of user, as the system's login manager tells them.
        h8::LogindSession logind(QDBusConnection::systemBus());
        h8::LoginSessionFollower loginFollower(logind, *window.controller, usbInterface, clock,
                                               h8::NorvShareHelper::shared(),
                                               {&h8::releaseUSBDevice, &h8::reclaimUSBDevice});
        h8::Automation automation(window, automationScript);
        automation.setLoginSessionFollower(&loginFollower);
        if (!automationScript.isEmpty()) automation.start();
        if (quitAfterMs >= 0) {
            QTimer::singleShot(quitAfterMs, &app, [&window, screenshot] {
                if (!screenshot.isEmpty() && !window.grab().save(screenshot))
                    h8::diag("Cannot save " + screenshot.toStdString());
                QApplication::quit();
            });
        }
        status = QApplication::exec();
        h8::UserDefaults::standard().flush();
        if (report) StartupReport::printResidentMemory();
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
