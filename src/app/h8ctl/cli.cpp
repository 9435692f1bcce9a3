#include "cli.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "core/audio_devices.h"
#include "core/audio_helper.h"
#include "core/device_controls.h"
#include "core/level_engine.h"
#include "core/preset_file.h"
#include "core/routing_model.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_audio_backend.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/diagnostics.h"
#include "platform/libusb_transport.h"
#include "platform/notification_center.h"
#include "platform/paths.h"
#include "platform/user_defaults.h"
#include "platform_audio.h"
#include "udev_rule.h"

namespace h8::cli {
namespace {

// The program's messages go through the translation tables under the context "h8ctl".
struct Text {
    Q_DECLARE_TR_FUNCTIONS(h8ctl)
};

constexpr const char* kUsage = QT_TRANSLATE_NOOP(
    "h8ctl",
    R"(Usage: h8ctl [--simulate[=STATE_FILE]] [--verbose] [--trace] [--json] COMMAND [ARGS]

Controls an H8 audio interface over USB.

Commands:
  status                         show the device, its inputs, outputs and mutes
  mute input1|input2|hp on|off   mute or unmute an input or the headphones
  otg-volume PERCENT             set the OTG output volume (0-100)
  rate [44100|48000|88200|96000] show or set the sample rate
  route SOURCE DESTINATION on|off  switch a mixer route on (at 100 %) or off
  level SOURCE DESTINATION PERCENT set a route's level (0-100)
  routes                         show the route map with its levels
  monitor [--seconds N]          show the level of every input channel, 20 times a second
  preset export|import FILE      save the panel's state to a preset file, or load one
  udev-rule                      print the udev rule that gives the logged-in user access
  sim-set CONTROL VALUE          turn a physical control of the emulated H8 (needs --simulate)
                                 CONTROL: gain1 gain2 hp-level (code 0-255),
                                 48v1 48v2 inst1 inst2 type1 type2 otg (on|off)

Sources: 1-12 or mic1 mic2 otg3 otg4 pb1 ... pb8
Destinations: 1-12 or hp1 hp2 otg3 otg4 loop1 ... loop8

Options:
  --simulate[=STATE_FILE]  use the emulated H8 instead of USB; its state is kept in
                           STATE_FILE (default: <config folder>/emulated-h8.json)
  --verbose                also print the progress lines of the USB session and of the
                           preset files to standard error (errors are always printed)
  --trace                  print every control transfer to standard error
  --json                   print results as JSON
  -h, --help               show this help

Exit codes: 0 success, 1 usage error, 2 no device or device unavailable,
            3 preset rejected (another device model, or not a preset), 4 I/O error.
)");

struct Options {
    bool simulate = false;
    QString stateFile;
    bool trace = false;
    bool verbose = false;
    bool json = false;
    QStringList command;
};

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

QTextStream& err() {
    static QTextStream s(stderr);
    return s;
}

int usageError(const QString& message) {
    err() << "h8ctl: " << message << "\n" << Text::tr("Try 'h8ctl --help'.") << "\n";
    err().flush();
    return kExitUsage;
}

int ioError() {
    err() << "h8ctl: " << Text::tr("the H8 did not answer a request (I/O error)") << "\n";
    err().flush();
    return kExitIoError;
}

std::optional<bool> parseOnOff(const QString& s) {
    if (s == QLatin1String("on")) return true;
    if (s == QLatin1String("off")) return false;
    return std::nullopt;
}

std::optional<int> parseInt(const QString& s, int min, int max) {
    bool ok = false;
    const int v = s.toInt(&ok);
    if (!ok || v < min || v > max) return std::nullopt;
    return v;
}

// ---- commands that need the device ----

int status(const Options& o) {
    NorvShareHelper& store = NorvShareHelper::shared();
    bool ok = true;
    uint32_t raw = 0;
    ok &= NorvaltUSBAudioGetHWState(raw);
    std::array<uint8_t, 4> hw;
    std::memcpy(hw.data(), &raw, 4);
    store.applyHardwareState(hw);
    uint8_t otg = 0, mute1 = 0, mute2 = 0, hpMute = 0, otgLevel = 0;
    ok &= NorvaltUSBAudioGetOTG(1, otg);
    ok &= NorvaltUSBAudioGetMute(1, 1, mute1);
    ok &= NorvaltUSBAudioGetMute(1, 2, mute2);
    ok &= NorvaltUSBAudioGetMute(0, 1, hpMute);
    ok &= NorvaltUSBAudioGetVolume(0, 3, otgLevel);
    if (!ok) return ioError();
    const int otgPercent =
        static_cast<int>(std::lround(std::min<int>(otgLevel, 127) * 100.0 / 127));

    struct Input {
        double gain;
        int phantom, instrument, type, muted;
    };
    const Input inputs[2] = {
        {store.micIn1Volume, store.mic48VState, store.micInstState, store.micInChangeState, mute1},
        {store.micIn2Volume, store.mic248VState, store.mic2InstState, store.mic2InChangeState,
         mute2},
    };

    if (o.json) {
        QJsonArray in;
        for (const Input& i : inputs) {
            in.append(QJsonObject{{"gainDb", std::round(i.gain * 100) / 100},
                                  {"phantom48V", i.phantom == 1},
                                  {"instrument", i.instrument == 1},
                                  {"inputType", i.type},
                                  {"muted", i.muted == 1}});
        }
        const QJsonObject doc{
            {"device", store.deviceName},
            {"serialNumber", store.deviceSn},
            {"firmwareVersion", store.deviceVersion},
            {"firmware", static_cast<qint64>(store.firmware)},
            {"inputs", in},
            {"headphones", QJsonObject{{"level", std::round(store.micOutVolume * 100) / 100},
                                       {"muted", hpMute == 1}}},
            {"otg", QJsonObject{{"connected", otg == 1}, {"outputVolume", otgPercent}}},
        };
        out() << QJsonDocument(doc).toJson(QJsonDocument::Compact) << "\n";
        return kExitOk;
    }
    const auto onOff = [](int v) { return v == 1 ? Text::tr("on") : Text::tr("off"); };
    const auto muted = [](int v) { return v == 1 ? Text::tr("muted") : Text::tr("not muted"); };
    out() << Text::tr("Device:            %1").arg(store.deviceName) << "\n";
    out() << Text::tr("Serial number:     %1").arg(store.deviceSn) << "\n";
    out() << Text::tr("Firmware:          %1").arg(store.deviceVersion) << "\n";
    for (int n = 0; n < 2; ++n) {
        const Input& i = inputs[n];
        out() << Text::tr("Input %1:           %2 dB, 48V %3, instrument %4, input type %5, %6")
                     .arg(QString::number(n + 1), QString::number(i.gain, 'f', 1), onOff(i.phantom),
                          onOff(i.instrument), QString::number(i.type), muted(i.muted))
              << "\n";
    }
    out() << Text::tr("Headphones:        level %1, %2")
                 .arg(QString::number(store.micOutVolume, 'f', 1), muted(hpMute))
          << "\n";
    out() << Text::tr("OTG:               %1, output volume %2 %")
                 .arg(otg == 1 ? Text::tr("connected") : Text::tr("not connected"),
                      QString::number(otgPercent))
          << "\n";
    return kExitOk;
}

enum class MuteTarget { Input1, Input2, Headphones };

struct MuteCommand {
    MuteTarget target;
    bool on;
};

std::optional<MuteCommand> parseMute(const Options& o, int* exitCode) {
    if (o.command.size() != 3) {
        *exitCode = usageError(Text::tr("mute needs a target (input1, input2 or hp) and on|off"));
        return std::nullopt;
    }
    const QString target = o.command[1];
    const std::optional<bool> on = parseOnOff(o.command[2]);
    if (!on) {
        *exitCode = usageError(Text::tr("mute takes on or off, not '%1'").arg(o.command[2]));
        return std::nullopt;
    }
    if (target == QLatin1String("input1")) return MuteCommand{MuteTarget::Input1, *on};
    if (target == QLatin1String("input2")) return MuteCommand{MuteTarget::Input2, *on};
    if (target == QLatin1String("hp")) return MuteCommand{MuteTarget::Headphones, *on};
    *exitCode =
        usageError(Text::tr("mute target must be input1, input2 or hp, not '%1'").arg(target));
    return std::nullopt;
}

int mute(const MuteCommand& m) {
    const int state = m.on ? 1 : 0;
    bool ok = false;
    switch (m.target) {
        case MuteTarget::Input1:
            ok = setInputMute(1, state);
            break;
        case MuteTarget::Input2:
            ok = setInputMute(2, state);
            break;
        case MuteTarget::Headphones:
            ok = setHeadphoneMute(state);
            break;
    }
    return ok ? kExitOk : ioError();
}

int otgVolume(const Options&, int percent) {
    return setOtgOutputVolume(percent) ? kExitOk : ioError();
}

// ---- emulated H8 ----

int simSet(const Options& o, emulated::EmulatedH8& model) {
    if (o.command.size() != 3) return usageError(Text::tr("sim-set needs a control and a value"));
    const QString control = o.command[1], value = o.command[2];
    if (control == "gain1" || control == "gain2" || control == "hp-level") {
        const std::optional<int> code = parseInt(value, 0, 255);
        if (!code)
            return usageError(
                Text::tr("%1 takes a code from 0 to 255, not '%2'").arg(control, value));
        if (control == "hp-level")
            model.setHeadphoneLevelCode(static_cast<uint8_t>(*code));
        else
            model.setGainCode(control.back().digitValue(), static_cast<uint8_t>(*code));
        return kExitOk;
    }
    const std::optional<bool> on = parseOnOff(value);
    if (!on) return usageError(Text::tr("%1 takes on or off, not '%2'").arg(control, value));
    if (control == "otg") {
        model.setOtgPlugged(*on);
    } else if (control == "48v1" || control == "48v2") {
        model.setPhantomPower(control.back().digitValue(), *on);
    } else if (control == "inst1" || control == "inst2") {
        model.setInstrumentMode(control.back().digitValue(), *on);
    } else if (control == "type1" || control == "type2") {
        model.setInputType(control.back().digitValue(), *on);
    } else {
        return usageError(Text::tr("unknown control '%1'").arg(control));
    }
    return kExitOk;
}

std::optional<Options> parse(const QStringList& args, int* exitCode) {
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!o.command.isEmpty()) {
            o.command.append(a);
        } else if (a == "-h" || a == "--help") {
            out() << QCoreApplication::translate("h8ctl", kUsage);
            *exitCode = kExitOk;
            return std::nullopt;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a.startsWith("--simulate=")) {
            o.simulate = true;
            o.stateFile = a.mid(QStringLiteral("--simulate=").size());
            if (o.stateFile.isEmpty()) {
                *exitCode = usageError(Text::tr("--simulate= needs a file name"));
                return std::nullopt;
            }
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a.startsWith('-')) {
            *exitCode = usageError(Text::tr("unknown option '%1'").arg(a));
            return std::nullopt;
        } else {
            o.command.append(a);
        }
    }
    if (o.command.isEmpty()) {
        *exitCode = usageError(Text::tr("no command given"));
        return std::nullopt;
    }
    return o;
}

// ---- routing ----

const QStringList kSourceNames = {"mic1", "mic2", "otg3", "otg4", "pb1", "pb2",
                                  "pb3",  "pb4",  "pb5",  "pb6",  "pb7", "pb8"};
const QStringList kDestinationNames = {"hp1",   "hp2",   "otg3",  "otg4",  "loop1", "loop2",
                                       "loop3", "loop4", "loop5", "loop6", "loop7", "loop8"};

// A 1-based source row or destination col from its number (1-12) or its name.
std::optional<int> parseEndpoint(const QString& text, const QStringList& names) {
    if (const auto n = parseInt(text, 1, 12)) return n;
    const qsizetype i = names.indexOf(text.toLower());
    if (i < 0) return std::nullopt;
    return static_cast<int>(i) + 1;
}

std::optional<Crosspoint> parseCrosspoint(const QString& source, const QString& destination,
                                          int* exitCode) {
    const auto row = parseEndpoint(source, kSourceNames);
    const auto col = parseEndpoint(destination, kDestinationNames);
    if (!row) {
        *exitCode = usageError(
            Text::tr("unknown source '%1' (1-12 or %2)").arg(source, kSourceNames.join(' ')));
        return std::nullopt;
    }
    if (!col) {
        *exitCode = usageError(Text::tr("unknown destination '%1' (1-12 or %2)")
                                   .arg(destination, kDestinationNames.join(' ')));
        return std::nullopt;
    }
    return Crosspoint{*row, *col};
}

// The routing as the panel keeps it, committing every switch (h8ctl has no routing engine).
std::unique_ptr<RoutingModel> routingModel() {
    auto routing = std::make_unique<RoutingModel>(UserDefaults::standard(),
                                                  NotificationCenter::defaultCenter());
    routing->setCommitsRoutes(true);
    return routing;
}

// Switches a route on as a click on a grid button does (level 100 % sent, then the commit),
// or off (the commit).
int route(const Crosspoint& x, bool on) {
    return routingModel()->setRoute(x.row, x.col, on) ? kExitOk : ioError();
}

// Sets a crosspoint's level. It is sent only while the route is on: sending it to a route that
// is off would make that crosspoint audible behind the route map's back.
int level(const Crosspoint& x, int percent) {
    const std::unique_ptr<RoutingModel> routing = routingModel();
    const bool ok = routing->setLevel(x.row, x.col, static_cast<float>(percent));
    if (!routing->isOn(x.row, x.col)) {
        err() << "h8ctl: "
              << Text::tr(
                     "%1 -> %2 is off: the level is stored and used when the route is "
                     "switched on")
                     .arg(kSourceNames[x.row - 1], kDestinationNames[x.col - 1])
              << "\n";
        return kExitOk;
    }
    return ok ? kExitOk : ioError();
}

int routes(const Options& o) {
    const std::unique_ptr<RoutingModel> routing = routingModel();
    const auto routeIsOn = [&](int row, int col) { return routing->isOn(row, col); };
    const auto levelOf = [&](int row, int col) {
        return static_cast<int>(routing->level(row, col));
    };
    if (o.json) {
        QJsonArray list;
        for (int col = 1; col <= 12; ++col) {
            for (int row = 1; row <= 12; ++row) {
                if (!routeIsOn(row, col)) continue;
                list.append(QJsonObject{{"source", kSourceNames[row - 1]},
                                        {"destination", kDestinationNames[col - 1]},
                                        {"level", levelOf(row, col)}});
            }
        }
        out() << QJsonDocument(QJsonObject{{"routes", list}}).toJson(QJsonDocument::Compact)
              << "\n";
        return kExitOk;
    }
    // One line per destination, one column per source; a level where the route is on.
    out() << QStringLiteral("%1").arg("", -6);
    for (const QString& name : kSourceNames) out() << QStringLiteral("%1").arg(name, 5);
    out() << "\n";
    for (int col = 1; col <= 12; ++col) {
        out() << QStringLiteral("%1").arg(kDestinationNames[col - 1], -6);
        for (int row = 1; row <= 12; ++row) {
            const QString cell = routeIsOn(row, col) ? QString::number(levelOf(row, col)) : "-";
            out() << QStringLiteral("%1").arg(cell, 5);
        }
        out() << "\n";
    }
    return kExitOk;
}

// ---- audio ----

int rate(const Options& o, const AudioDevicePtr& device, std::optional<int> newRate) {
    if (newRate && !device->setNominalSampleRate(*newRate)) {
        err() << "h8ctl: " << Text::tr("the sound server did not accept %1 Hz").arg(*newRate)
              << "\n";
        return kExitIoError;
    }
    const std::optional<double> current = device->nominalSampleRate();
    if (!current) {
        err() << "h8ctl: " << Text::tr("the interface reports no sample rate") << "\n";
        return kExitIoError;
    }
    if (o.json) {
        out() << QJsonDocument(QJsonObject{{"sampleRate", static_cast<qint64>(*current)}})
                     .toJson(QJsonDocument::Compact)
              << "\n";
    } else {
        out() << sampleRateText(*current) << "\n";
    }
    return kExitOk;
}

volatile std::sig_atomic_t g_interrupted = 0;

int monitor(const Options& o, const AudioDevicePtr& device, std::optional<int> seconds) {
    const uint32_t channels = device->channels(Scope::input);
    std::vector<std::unique_ptr<Engine>> engines;
    for (uint32_t i = 0; i < channels; ++i)
        engines.push_back(std::make_unique<Engine>(device, static_cast<int>(i)));
    bool started = channels > 0;
    for (auto& e : engines) started = e->start() && started;
    if (!started) {
        err() << "h8ctl: " << Text::tr("the interface's input cannot be captured") << "\n";
        return kExitIoError;
    }
    std::signal(SIGINT, [](int) { g_interrupted = 1; });
    std::signal(SIGTERM, [](int) { g_interrupted = 1; });

    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    QEventLoop loop;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (g_interrupted || (seconds && clock.elapsed() >= *seconds * 1000)) {
            loop.quit();
            return;
        }
        if (o.json) {
            QJsonArray levels;
            for (auto& e : engines) levels.append(std::round(e->volumeIntensity() * 1000) / 1000);
            out() << QJsonDocument(QJsonObject{{"t", clock.elapsed() / 1000.0}, {"levels", levels}})
                         .toJson(QJsonDocument::Compact)
                  << "\n";
        } else {
            for (size_t i = 0; i < engines.size(); ++i) {
                out() << (i ? " " : "") << QString::number(engines[i]->volumeIntensity(), 'f', 2);
            }
            out() << "\n";
        }
        out().flush();
    });
    timer.start(50);  // 20 times a second
    loop.exec();
    for (auto& e : engines) e->stop();
    return kExitOk;
}

// ---- presets ----

// Fills the store as the panel keeps it: identity (from the arrival), the hardware state,
// the mute states the panel records, and the sample rate when the sound server is there.
bool readPanelState(const AudioDevicePtr& audioDevice) {
    NorvShareHelper& store = NorvShareHelper::shared();
    UserDefaults& defaults = UserDefaults::standard();
    uint32_t raw = 0;
    bool ok = NorvaltUSBAudioGetHWState(raw);
    std::array<uint8_t, 4> hw;
    std::memcpy(hw.data(), &raw, 4);
    store.applyHardwareState(hw);
    store.micMuteState = static_cast<int>(defaults.integerForKey(kMicMute1Key));
    store.mic2MuteState = static_cast<int>(defaults.integerForKey(kMicMute2Key));
    uint8_t hpMute = 0;
    ok = NorvaltUSBAudioGetMute(0, 1, hpMute) && ok;
    store.hpMuteState = hpMute;
    if (audioDevice) {
        if (const auto rate = audioDevice->nominalSampleRate())
            store.sampleRate = sampleRateText(*rate);
    }
    return ok;
}

int presetExport(const QString& path, const AudioDevicePtr& audioDevice) {
    if (!readPanelState(audioDevice)) return ioError();
    return NorvExportFileHelper::shared().exportFile(path) ? kExitOk : kExitIoError;
}

// Imports a preset and applies to the device what the panel applies: the mute states, the
// sample rate and the crosspoints of the routes.
int presetImport(const QString& path, const AudioDevicePtr& audioDevice) {
    NorvShareHelper& store = NorvShareHelper::shared();
    store.hardwareDevice = audioDevice;
    if (audioDevice) {
        if (const auto rate = audioDevice->nominalSampleRate())
            store.sampleRate = sampleRateText(*rate);
    }
    const NorvExportFileHelper& presets = NorvExportFileHelper::shared();
    // Routes of the stored map that the preset has not are switched off on the device.
    const std::unique_ptr<RoutingModel> routing = routingModel();
    if (presets.importFile(path, *routing) == NorvExportFileHelper::ImportResult::mismatch) {
        err() << "h8ctl: "
              << QCoreApplication::translate(
                     "Preset", NorvExportFileHelper::mismatchMessage().toUtf8().constData())
              << "\n";
        return kExitRejected;
    }
    if (!audioDevice)
        err() << "h8ctl: "
              << Text::tr("no sound server: the sample rate of the preset is not applied") << "\n";
    return kExitOk;
}

// ---- the commands ----

// What a command needs before it runs.
struct Needs {
    bool usb = false;         // the interface's USB control path
    bool audio = false;       // its audio device (the command fails without one)
    bool wantsAudio = false;  // its audio device, when the sound server lists one
    bool simulation = false;  // the emulated H8 itself (--simulate)
    bool anything() const { return usb || audio || wantsAudio || simulation; }
};

// What a command runs with once its needs are met.
struct Session {
    const Options& o;
    AudioDevicePtr audioDevice;
    emulated::EmulatedH8* model = nullptr;
};

using Action = std::function<int(Session&)>;

// A command: its name, what it needs, and the check of its arguments, which gives the action to
// run or, for a usage error, sets the exit code and gives nothing. Every argument is checked
// before anything is opened or sent.
struct Command {
    const char* name;
    Needs needs;
    std::function<std::optional<Action>(const Options&, int* exitCode)> prepare;
};

std::optional<Action> refuse(int* exitCode, const QString& message) {
    *exitCode = usageError(message);
    return std::nullopt;
}

qsizetype argumentCount(const Options& o) {
    return o.command.size() - 1;
}

const std::vector<Command>& commands() {
    static const std::vector<Command> table = {
        {"udev-rule",
         {},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("udev-rule takes no arguments"));
             return [](Session&) {
                 out() << kUdevRule;
                 return int(kExitOk);
             };
         }},
        {"status",
         {.usb = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("status takes no arguments"));
             return [](Session& s) { return status(s.o); };
         }},
        {"otg-volume",
         {.usb = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 1)
                 return refuse(e, Text::tr("otg-volume needs one PERCENT from 0 to 100"));
             const std::optional<int> percent = parseInt(o.command[1], 0, 100);
             if (!percent)
                 return refuse(e,
                               Text::tr("otg-volume takes a whole PERCENT from 0 to 100, not '%1'")
                                   .arg(o.command[1]));
             return [p = *percent](Session& s) { return otgVolume(s.o, p); };
         }},
        {"mute",
         {.usb = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             const std::optional<MuteCommand> m = parseMute(o, e);
             if (!m) return std::nullopt;
             return [m = *m](Session&) { return mute(m); };
         }},
        {"route",
         {.usb = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 3)
                 return refuse(e, Text::tr("route needs SOURCE DESTINATION on|off"));
             const std::optional<Crosspoint> x = parseCrosspoint(o.command[1], o.command[2], e);
             if (!x) return std::nullopt;
             const std::optional<bool> on = parseOnOff(o.command[3]);
             if (!on)
                 return refuse(e, Text::tr("route takes on or off, not '%1'").arg(o.command[3]));
             return [x = *x, on = *on](Session&) { return route(x, on); };
         }},
        {"level",
         {.usb = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 3)
                 return refuse(e, Text::tr("level needs SOURCE DESTINATION PERCENT"));
             const std::optional<Crosspoint> x = parseCrosspoint(o.command[1], o.command[2], e);
             if (!x) return std::nullopt;
             const std::optional<int> percent = parseInt(o.command[3], 0, 100);
             if (!percent)
                 return refuse(e, Text::tr("level takes a whole PERCENT from 0 to 100, not '%1'")
                                      .arg(o.command[3]));
             return [x = *x, p = *percent](Session&) { return level(x, p); };
         }},
        {"routes",
         {},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("routes takes no arguments"));
             return [](Session& s) { return routes(s.o); };
         }},
        {"rate",
         {.audio = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) > 1) return refuse(e, Text::tr("rate takes at most one RATE"));
             std::optional<int> hz;
             if (argumentCount(o) == 1) {
                 hz = parseInt(o.command[1], 0, 1000000);
                 if (!hz || !QList<int>{44100, 48000, 88200, 96000}.contains(*hz))
                     return refuse(e,
                                   Text::tr("rate must be 44100, 48000, 88200 or 96000, not '%1'")
                                       .arg(o.command[1]));
             }
             return [hz](Session& s) { return rate(s.o, s.audioDevice, hz); };
         }},
        {"monitor",
         {.audio = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             std::optional<int> seconds;
             if (argumentCount(o) == 2 && o.command[1] == "--seconds") {
                 seconds = parseInt(o.command[2], 1, 24 * 3600);
                 if (!seconds)
                     return refuse(e,
                                   Text::tr("--seconds takes a whole number of seconds, not '%1'")
                                       .arg(o.command[2]));
             } else if (argumentCount(o) != 0) {
                 return refuse(e, Text::tr("monitor takes only --seconds N"));
             }
             return [seconds](Session& s) { return monitor(s.o, s.audioDevice, seconds); };
         }},
        {"preset",
         {.usb = true, .wantsAudio = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 2 || (o.command[1] != "export" && o.command[1] != "import"))
                 return refuse(e, Text::tr("preset needs export|import FILE"));
             const QString path = o.command[2];
             if (o.command[1] == "export")
                 return [path](Session& s) { return presetExport(path, s.audioDevice); };
             if (!QFileInfo(path).isFile())
                 return refuse(e, Text::tr("no preset file '%1'").arg(path));
             return [path](Session& s) { return presetImport(path, s.audioDevice); };
         }},
        {"sim-set",
         {.simulation = true},
         [](const Options& o, int* e) -> std::optional<Action> {
             if (!o.simulate) return refuse(e, Text::tr("sim-set works only with --simulate"));
             return [](Session& s) { return simSet(s.o, *s.model); };
         }},
    };
    return table;
}

const Command* findCommand(const QString& name) {
    for (const Command& c : commands()) {
        if (name == QLatin1String(c.name)) return &c;
    }
    return nullptr;
}

// What a command runs on, opened as it needs and closed when it is done: the interface's
// control path (traced with --trace), the emulated H8 with --simulate (saved at the end), the
// sound server and the interface's audio device, USB monitoring.
class Environment {
public:
    explicit Environment(const Options& o) : o_(o), installed_(usb_) {
        if (o.trace) {
            usb_.setTraceSink([](const std::string& line) {
                std::fprintf(stderr, "%s\n", line.c_str());
                std::fflush(stderr);
            });
        }
    }
    ~Environment() {
        if (monitoring_) stopUSBMonitoring();
        simply_.reset();
        SimplyCoreAudio::setBackend(nullptr);
        audio_.reset();
    }

    // Opens what `needs` asks for into `session`; the exit code when that fails.
    std::optional<int> open(const Needs& needs, Session& session) {
        if (o_.simulate) {
            if (const auto failed = openSimulation()) return failed;
            session.model = &sim_->model();
        }
        if (needs.simulation) return std::nullopt;
        if (needs.audio || needs.wantsAudio) {
            if (const auto failed = openAudio(needs.audio, session)) return failed;
        }
        if (needs.usb) return openUsb();
        return std::nullopt;
    }

    // Closes everything and saves the emulated H8; `code`, or an I/O error when the save failed.
    int finish(int code) {
        if (monitoring_) stopUSBMonitoring();
        monitoring_ = false;
        out().flush();
        err().flush();
        QString error;
        if (sim_ && !sim_->model().save(stateFile_, &error)) {
            err() << "h8ctl: " << Text::tr("cannot save the emulated H8 state: %1").arg(error)
                  << "\n";
            return code == kExitOk ? kExitIoError : code;
        }
        return code;
    }

private:
    std::optional<int> openSimulation() {
        auto emulatedTransport = std::make_unique<emulated::EmulatedUsbTransport>();
        sim_ = emulatedTransport.get();
        stateFile_ = o_.stateFile.isEmpty() ? configDir() + "/emulated-h8.json" : o_.stateFile;
        QString error;
        if (!sim_->model().loadOrCreate(stateFile_, &error)) {
            err() << "h8ctl: " << error << "\n";
            sim_ = nullptr;
            return kExitNoDevice;
        }
        // H8_SIMULATE_FAULT=stall|timeout|hang|hang@MS makes the emulated H8 fail every request
        // (hang: each after its whole time-out, from MS milliseconds on), to try the failure
        // paths by hand and in tests.
        const QByteArray fault = qgetenv("H8_SIMULATE_FAULT");
        if (!fault.isEmpty() && !sim_->model().setFaultFromText(fault))
            err() << "h8ctl: "
                  << Text::tr(
                         "H8_SIMULATE_FAULT=%1 is not stall, timeout, hang or hang@MS; ignored")
                         .arg(QString::fromLatin1(fault))
                  << "\n";
        sim_->plug();
        transport_ = std::move(emulatedTransport);
        return std::nullopt;
    }

    std::optional<int> openAudio(bool required, Session& session) {
        if (sim_) {
            audio_ = std::make_unique<emulated::EmulatedAudioBackend>(sim_->model());
        } else {
            QString error;
            audio_ = createPlatformAudioBackend(&error);
            if (!audio_ && required) {
                err() << "h8ctl: " << Text::tr("no sound server: %1").arg(error) << "\n";
                return kExitNoDevice;
            }
        }
        SimplyCoreAudio::setBackend(audio_.get());
        simply_ = std::make_unique<SimplyCoreAudio>();
        session.audioDevice = findH8AudioDevice(simply_->allDevices());
        if (!session.audioDevice && required) {
            err() << "h8ctl: " << Text::tr("the sound server lists no H8 (USB 309C:0018)") << "\n";
            return kExitNoDevice;
        }
        return std::nullopt;
    }

    std::optional<int> openUsb() {
        if (!sim_) transport_ = std::make_unique<LibusbTransport>();
        if (!startUSBMonitoring(*transport_, usb_)) {
            err() << "h8ctl: " << Text::tr("USB access could not start") << "\n";
            return kExitNoDevice;
        }
        monitoring_ = true;
        if (!usb_.isAttached()) {
            err() << "h8ctl: " << Text::tr("no H8 found (USB 309c:0018)") << "\n";
            return kExitNoDevice;
        }
        return std::nullopt;
    }

    const Options& o_;
    UsbInterface usb_;
    const UsbInterface::Installation installed_;
    std::unique_ptr<UsbTransport> transport_;
    emulated::EmulatedUsbTransport* sim_ = nullptr;
    QString stateFile_;
    std::unique_ptr<AudioBackend> audio_;
    std::unique_ptr<SimplyCoreAudio> simply_;
    bool monitoring_ = false;
};

}  // namespace

int run(const QStringList& arguments) {
    int exitCode = kExitOk;
    const std::optional<Options> parsed = parse(arguments, &exitCode);
    if (!parsed) return exitCode;
    const Options& o = *parsed;

    // Diagnostics go to stderr so that stdout holds only results. The panel owns the log file.
    setDiagnosticsStream(stderr);
    showTraceLines(o.verbose);
    NorvShareHelper::disableLogFile();

    const Command* command = findCommand(o.command.first());
    if (!command) return usageError(Text::tr("unknown command '%1'").arg(o.command.first()));
    const std::optional<Action> action = command->prepare(o, &exitCode);
    if (!action) return exitCode;
    Session session{o, {}, nullptr};
    if (!command->needs.anything()) return (*action)(session);

    Environment environment(o);
    if (const std::optional<int> failed = environment.open(command->needs, session)) return *failed;
    return environment.finish((*action)(session));
}

}  // namespace h8::cli
