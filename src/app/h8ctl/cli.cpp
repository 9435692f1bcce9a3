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
#include "emulated/physical_controls.h"
#include "panel_client.h"
#include "platform/diagnostics.h"
#include "platform/file_lock.h"
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
                                 mixer-reset on (every crosspoint silent, as after
                                 a loss of power)

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

// How long a command waits for another program's command on the interface to end (a panel
// holds the interface all its run: a command that cannot reach it gives up after this).
constexpr std::chrono::milliseconds kInterfaceLockWait{5000};

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

// What `status` shows, read from the interface or from the panel.
struct StatusReport {
    QString device, serialNumber, firmwareVersion;
    qint64 firmware = 0;
    struct Input {
        double gain = 0;
        int phantom = 0, instrument = 0, type = 0, muted = 0;
    };
    Input inputs[2];
    double headphoneLevel = 0;
    int headphonesMuted = 0;
    bool otgConnected = false;
    int otgPercent = 0;
};

std::optional<StatusReport> readStatus() {
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
    if (!ok) return std::nullopt;
    StatusReport r;
    r.device = store.deviceName;
    r.serialNumber = store.deviceSn;
    r.firmwareVersion = store.deviceVersion;
    r.firmware = store.firmware;
    r.inputs[0] = {store.micIn1Volume, store.mic48VState, store.micInstState,
                   store.micInChangeState, mute1};
    r.inputs[1] = {store.micIn2Volume, store.mic248VState, store.mic2InstState,
                   store.mic2InChangeState, mute2};
    r.headphoneLevel = store.micOutVolume;
    r.headphonesMuted = hpMute;
    r.otgConnected = otg == 1;
    r.otgPercent = static_cast<int>(std::lround(std::min<int>(otgLevel, 127) * 100.0 / 127));
    return r;
}

StatusReport statusFromPanel(const QVariantMap& p) {
    StatusReport r;
    r.device = p.value("Name").toString();
    r.serialNumber = p.value("Serial").toString();
    r.firmwareVersion = p.value("Firmware").toString();
    r.firmware = p.value("FirmwareCode").toLongLong();
    for (int n = 0; n < 2; ++n) {
        const QString i = QString::number(n + 1);
        r.inputs[n] = {p.value("Input" + i + "Gain").toDouble(), p.value("Phantom" + i).toBool(),
                       p.value("Instrument" + i).toBool(),
                       static_cast<int>(p.value("InputType" + i).toUInt()),
                       p.value("Input" + i + "Muted").toBool()};
    }
    r.headphoneLevel = p.value("HeadphoneLevel").toDouble();
    r.headphonesMuted = p.value("HeadphonesMuted").toBool();
    r.otgConnected = p.value("OtgConnected").toBool();
    r.otgPercent = static_cast<int>(p.value("OtgVolume").toUInt());
    return r;
}

int printStatus(const Options& o, const StatusReport& r) {
    if (o.json) {
        QJsonArray in;
        for (const StatusReport::Input& i : r.inputs) {
            in.append(QJsonObject{{"gainDb", std::round(i.gain * 100) / 100},
                                  {"phantom48V", i.phantom == 1},
                                  {"instrument", i.instrument == 1},
                                  {"inputType", i.type},
                                  {"muted", i.muted == 1}});
        }
        const QJsonObject doc{
            {"device", r.device},
            {"serialNumber", r.serialNumber},
            {"firmwareVersion", r.firmwareVersion},
            {"firmware", r.firmware},
            {"inputs", in},
            {"headphones", QJsonObject{{"level", std::round(r.headphoneLevel * 100) / 100},
                                       {"muted", r.headphonesMuted == 1}}},
            {"otg", QJsonObject{{"connected", r.otgConnected}, {"outputVolume", r.otgPercent}}},
        };
        out() << QJsonDocument(doc).toJson(QJsonDocument::Compact) << "\n";
        return kExitOk;
    }
    const auto onOff = [](int v) { return v == 1 ? Text::tr("on") : Text::tr("off"); };
    const auto muted = [](int v) { return v == 1 ? Text::tr("muted") : Text::tr("not muted"); };
    out() << Text::tr("Device:            %1").arg(r.device) << "\n";
    out() << Text::tr("Serial number:     %1").arg(r.serialNumber) << "\n";
    out() << Text::tr("Firmware:          %1").arg(r.firmwareVersion) << "\n";
    for (int n = 0; n < 2; ++n) {
        const StatusReport::Input& i = r.inputs[n];
        out() << Text::tr("Input %1:           %2 dB, 48V %3, instrument %4, input type %5, %6")
                     .arg(QString::number(n + 1), QString::number(i.gain, 'f', 1), onOff(i.phantom),
                          onOff(i.instrument), QString::number(i.type), muted(i.muted))
              << "\n";
    }
    out() << Text::tr("Headphones:        level %1, %2")
                 .arg(QString::number(r.headphoneLevel, 'f', 1), muted(r.headphonesMuted))
          << "\n";
    out() << Text::tr("OTG:               %1, output volume %2 %")
                 .arg(r.otgConnected ? Text::tr("connected") : Text::tr("not connected"),
                      QString::number(r.otgPercent))
          << "\n";
    return kExitOk;
}

int status(const Options& o) {
    const std::optional<StatusReport> report = readStatus();
    return report ? printStatus(o, *report) : ioError();
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
void noteRouteIsOff(const Crosspoint& x) {
    err() << "h8ctl: "
          << Text::tr(
                 "%1 -> %2 is off: the level is stored and used when the route is "
                 "switched on")
                 .arg(kSourceNames[x.row - 1], kDestinationNames[x.col - 1])
          << "\n";
}

int level(const Crosspoint& x, int percent) {
    const std::unique_ptr<RoutingModel> routing = routingModel();
    const bool ok = routing->setLevel(x.row, x.col, static_cast<float>(percent));
    if (!routing->isOn(x.row, x.col)) {
        noteRouteIsOff(x);
        return kExitOk;
    }
    return ok ? kExitOk : ioError();
}

// The route map with its levels: whether each crosspoint is on, and its level when it is.
struct RouteTable {
    std::array<std::array<std::optional<int>, 12>, 12> level;  // [col - 1][row - 1]
};

RouteTable storedRoutes() {
    const std::unique_ptr<RoutingModel> routing = routingModel();
    RouteTable t;
    for (int col = 1; col <= 12; ++col) {
        for (int row = 1; row <= 12; ++row) {
            if (routing->isOn(row, col))
                t.level[col - 1][row - 1] = static_cast<int>(routing->level(row, col));
        }
    }
    return t;
}

RouteTable panelRoutes(const QVariant& value) {
    RouteTable t;
    for (const PanelRoute& r : PanelClient::routesOf(value)) {
        if (r.source >= 1 && r.source <= 12 && r.destination >= 1 && r.destination <= 12)
            t.level[r.destination - 1][r.source - 1] = static_cast<int>(r.level);
    }
    return t;
}

int printRoutes(const Options& o, const RouteTable& t) {
    if (o.json) {
        QJsonArray list;
        for (int col = 1; col <= 12; ++col) {
            for (int row = 1; row <= 12; ++row) {
                const std::optional<int>& level = t.level[col - 1][row - 1];
                if (!level) continue;
                list.append(QJsonObject{{"source", kSourceNames[row - 1]},
                                        {"destination", kDestinationNames[col - 1]},
                                        {"level", *level}});
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
            const std::optional<int>& level = t.level[col - 1][row - 1];
            const QString cell = level ? QString::number(*level) : "-";
            out() << QStringLiteral("%1").arg(cell, 5);
        }
        out() << "\n";
    }
    return kExitOk;
}

// ---- audio ----

int rateNotAccepted(int hz) {
    err() << "h8ctl: " << Text::tr("the sound server did not accept %1 Hz").arg(hz) << "\n";
    return kExitIoError;
}

int printRate(const Options& o, std::optional<double> current) {
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

int rate(const Options& o, const AudioDevicePtr& device, std::optional<int> newRate) {
    if (newRate && !device->setNominalSampleRate(*newRate)) return rateNotAccepted(*newRate);
    return printRate(o, device->nominalSampleRate());
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

int presetRejected() {
    err() << "h8ctl: "
          << QCoreApplication::translate(
                 "Preset", NorvExportFileHelper::mismatchMessage().toUtf8().constData())
          << "\n";
    return kExitRejected;
}

void noteRateNotApplied() {
    err() << "h8ctl: " << Text::tr("no sound server: the sample rate of the preset is not applied")
          << "\n";
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
    if (presets.importFile(path, *routing) == NorvExportFileHelper::ImportResult::mismatch)
        return presetRejected();
    if (!audioDevice) noteRateNotApplied();
    return kExitOk;
}

// ---- the same through the running panel ----

int noH8Found() {
    err() << "h8ctl: " << Text::tr("no H8 found (USB 309c:0018)") << "\n";
    return kExitNoDevice;
}

int noH8AudioDevice() {
    err() << "h8ctl: " << Text::tr("the sound server lists no H8 (USB 309C:0018)") << "\n";
    return kExitNoDevice;
}

// What the direct way prints and returns for the same failure.
int panelFailure(const BusFailure& f) {
    if (f.name == QLatin1String(bus::kErrorNotConnected)) return noH8Found();
    if (f.name == QLatin1String(bus::kErrorIo)) return ioError();
    if (f.name == QLatin1String(bus::kErrorPresetRejected)) return presetRejected();
    if (f.name == QLatin1String(bus::kErrorNoSoundServer)) return noH8AudioDevice();
    if (f.name == QLatin1String(bus::kErrorInvalidArgument) ||
        f.name == QLatin1String(bus::kErrorUnsupportedRate))
        return usageError(f.message);
    err() << "h8ctl: " << Text::tr("the panel did not answer: %1").arg(f.message) << "\n";
    return kExitNoDevice;
}

int panelCall(PanelClient& panel, const QString& method, const QVariantList& arguments,
              const char* interface = bus::kInterface) {
    const std::optional<BusFailure> failed = panel.call(method, arguments, nullptr, interface);
    return failed ? panelFailure(*failed) : kExitOk;
}

std::optional<QVariantMap> panelProperties(PanelClient& panel, int* exitCode) {
    BusFailure failure;
    std::optional<QVariantMap> p = panel.properties(&failure);
    if (!p) *exitCode = panelFailure(failure);
    return p;
}

int panelStatus(const Options& o, PanelClient& panel) {
    // The panel reads the interface now, as the direct way does.
    if (auto failed = panel.call(QStringLiteral("Refresh"))) return panelFailure(*failed);
    int code = kExitOk;
    const std::optional<QVariantMap> p = panelProperties(panel, &code);
    return p ? printStatus(o, statusFromPanel(*p)) : code;
}

int panelMute(PanelClient& panel, const MuteCommand& m) {
    const char* target = m.target == MuteTarget::Input1   ? "input1"
                         : m.target == MuteTarget::Input2 ? "input2"
                                                          : "headphones";
    return panelCall(panel, QStringLiteral("SetMute"), {QString::fromLatin1(target), m.on});
}

int panelLevel(PanelClient& panel, const Crosspoint& x, int percent) {
    const std::optional<BusFailure> failed = panel.call(
        QStringLiteral("SetLevel"), {uint(x.row), uint(x.col), static_cast<double>(percent)});
    int code = kExitOk;
    const std::optional<QVariantMap> p = panelProperties(panel, &code);
    if (!p) return code;
    if (!panelRoutes(p->value("Routes")).level[x.col - 1][x.row - 1]) {
        if (failed && failed->name == QLatin1String(bus::kErrorNotConnected))
            return panelFailure(*failed);
        noteRouteIsOff(x);
        return kExitOk;
    }
    return failed ? panelFailure(*failed) : kExitOk;
}

int panelRoutesCommand(const Options& o, PanelClient& panel) {
    int code = kExitOk;
    const std::optional<QVariantMap> p = panelProperties(panel, &code);
    return p ? printRoutes(o, panelRoutes(p->value("Routes"))) : code;
}

int panelRate(const Options& o, PanelClient& panel, std::optional<int> hz) {
    if (hz) {
        if (auto failed = panel.call(QStringLiteral("SetSampleRate"), {uint(*hz)})) {
            if (failed->name == QLatin1String(bus::kErrorIo)) return rateNotAccepted(*hz);
            if (failed->name == QLatin1String(bus::kErrorNotConnected)) return noH8AudioDevice();
            return panelFailure(*failed);
        }
    }
    int code = kExitOk;
    const std::optional<QVariantMap> p = panelProperties(panel, &code);
    if (!p) return code;
    const uint current = p->value("SampleRate").toUInt();
    if (current == 0) return noH8AudioDevice();
    return printRate(o, current);
}

int panelPresetImport(PanelClient& panel, const QString& path) {
    if (auto failed =
            panel.call(QStringLiteral("ImportPreset"), {QFileInfo(path).absoluteFilePath()}))
        return panelFailure(*failed);
    int code = kExitOk;
    const std::optional<QVariantMap> p = panelProperties(panel, &code);
    if (p && p->value("SampleRate").toUInt() == 0) noteRateNotApplied();
    return kExitOk;
}

int panelPresetExport(PanelClient& panel, const QString& path) {
    if (auto failed =
            panel.call(QStringLiteral("ExportPreset"), {QFileInfo(path).absoluteFilePath()})) {
        if (failed->name == QLatin1String(bus::kErrorIo)) {
            err() << "h8ctl: " << failed->message << "\n";
            return kExitIoError;
        }
        return panelFailure(*failed);
    }
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

// What a command runs with once its needs are met: the running panel, or what it opened.
struct Session {
    const Options& o;
    PanelClient* panel = nullptr;
    AudioDevicePtr audioDevice;
    emulated::EmulatedH8* model = nullptr;
};

using Action = std::function<int(Session&)>;

// A command: its name, what it needs, whether it goes through a running panel, and the check of
// its arguments, which gives the action to run or, for a usage error, sets the exit code and
// gives nothing. Every argument is checked before anything is opened or sent.
struct Command {
    const char* name;
    Needs needs;
    bool throughPanel;
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
         false,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("udev-rule takes no arguments"));
             return [](Session&) {
                 out() << kUdevRule;
                 return int(kExitOk);
             };
         }},
        {"status",
         {.usb = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("status takes no arguments"));
             return [](Session& s) { return s.panel ? panelStatus(s.o, *s.panel) : status(s.o); };
         }},
        {"otg-volume",
         {.usb = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 1)
                 return refuse(e, Text::tr("otg-volume needs one PERCENT from 0 to 100"));
             const std::optional<int> percent = parseInt(o.command[1], 0, 100);
             if (!percent)
                 return refuse(e,
                               Text::tr("otg-volume takes a whole PERCENT from 0 to 100, not '%1'")
                                   .arg(o.command[1]));
             return [p = *percent](Session& s) {
                 return s.panel ? panelCall(*s.panel, QStringLiteral("SetOtgVolume"), {uint(p)})
                                : otgVolume(s.o, p);
             };
         }},
        {"mute",
         {.usb = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             const std::optional<MuteCommand> m = parseMute(o, e);
             if (!m) return std::nullopt;
             return [m = *m](Session& s) { return s.panel ? panelMute(*s.panel, m) : mute(m); };
         }},
        {"route",
         {.usb = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 3)
                 return refuse(e, Text::tr("route needs SOURCE DESTINATION on|off"));
             const std::optional<Crosspoint> x = parseCrosspoint(o.command[1], o.command[2], e);
             if (!x) return std::nullopt;
             const std::optional<bool> on = parseOnOff(o.command[3]);
             if (!on)
                 return refuse(e, Text::tr("route takes on or off, not '%1'").arg(o.command[3]));
             return [x = *x, on = *on](Session& s) {
                 return s.panel ? panelCall(*s.panel, QStringLiteral("SetRoute"),
                                            {uint(x.row), uint(x.col), on})
                                : route(x, on);
             };
         }},
        {"level",
         {.usb = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 3)
                 return refuse(e, Text::tr("level needs SOURCE DESTINATION PERCENT"));
             const std::optional<Crosspoint> x = parseCrosspoint(o.command[1], o.command[2], e);
             if (!x) return std::nullopt;
             const std::optional<int> percent = parseInt(o.command[3], 0, 100);
             if (!percent)
                 return refuse(e, Text::tr("level takes a whole PERCENT from 0 to 100, not '%1'")
                                      .arg(o.command[3]));
             return [x = *x, p = *percent](Session& s) {
                 return s.panel ? panelLevel(*s.panel, x, p) : level(x, p);
             };
         }},
        {"routes",
         {},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 0) return refuse(e, Text::tr("routes takes no arguments"));
             return [](Session& s) {
                 return s.panel ? panelRoutesCommand(s.o, *s.panel)
                                : printRoutes(s.o, storedRoutes());
             };
         }},
        {"rate",
         {.audio = true},
         true,
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
             return [hz](Session& s) {
                 return s.panel ? panelRate(s.o, *s.panel, hz) : rate(s.o, s.audioDevice, hz);
             };
         }},
        {"monitor",
         {.audio = true},
         false,
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
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (argumentCount(o) != 2 || (o.command[1] != "export" && o.command[1] != "import"))
                 return refuse(e, Text::tr("preset needs export|import FILE"));
             const QString path = o.command[2];
             if (o.command[1] == "export")
                 return [path](Session& s) {
                     return s.panel ? panelPresetExport(*s.panel, path)
                                    : presetExport(path, s.audioDevice);
                 };
             if (!QFileInfo(path).isFile())
                 return refuse(e, Text::tr("no preset file '%1'").arg(path));
             return [path](Session& s) {
                 return s.panel ? panelPresetImport(*s.panel, path)
                                : presetImport(path, s.audioDevice);
             };
         }},
        {"sim-set",
         {.simulation = true},
         true,
         [](const Options& o, int* e) -> std::optional<Action> {
             if (!o.simulate) return refuse(e, Text::tr("sim-set works only with --simulate"));
             if (argumentCount(o) != 2)
                 return refuse(e, Text::tr("sim-set needs a control and a value"));
             QString error;
             const std::optional<emulated::PhysicalControl> control =
                 emulated::parsePhysicalControl(o.command[1], o.command[2], &error);
             if (!control) return refuse(e, error);
             // The demo panel's emulated H8 lives in the panel: its controls are turned there.
             return [c = *control, value = o.command[2]](Session& s) {
                 if (s.panel)
                     return panelCall(*s.panel, QStringLiteral("SetControl"), {c.name, value},
                                      bus::kEmulatedInterface);
                 emulated::applyPhysicalControl(*s.model, c);
                 return int(kExitOk);
             };
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
                         "H8_SIMULATE_FAULT=%1 is not stall, timeout, hang, hang@MS, denied or "
                         "denied-until@MS; ignored")
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
        if (usb_.isAccessDenied()) {
            err() << "h8ctl: "
                  << Text::tr(
                         "no access to the H8 (USB 309c:0018): this user may not open its "
                         "USB device. Install the udev rule:\n  %1\nor the package:\n  %2")
                         .arg(QLatin1String(kUdevRuleInstallCommand),
                              QLatin1String(kPackageInstallCommand))
                  << "\n";
            return kExitNoDevice;
        }
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
    Session session{o, nullptr, {}, nullptr};
    if (!command->throughPanel && !command->needs.anything()) return (*action)(session);

    const Target target = o.simulate ? Target::emulated(o.stateFile) : Target::hardware();
    // The emulated H8 keeps preferences of its own, apart from the real interface's.
    if (target.isEmulated())
        UserDefaults::setStandard(std::make_unique<UserDefaults>(target.preferencesFile()));
    // While the panel runs, it owns the interface and the stored state: ask it.
    if (command->throughPanel) {
        if (const std::unique_ptr<PanelClient> panel = PanelClient::find(target)) {
            session.panel = panel.get();
            const int code = (*action)(session);
            out().flush();
            err().flush();
            return code;
        }
    }
    // Without one, h8ctl opens the interface itself and holds it for the command: a panel that
    // starts meanwhile waits for it.
    FileLock lock(target.interfaceLockFile());
    if (command->name != QLatin1String("monitor") && !lock.lock(kInterfaceLockWait)) {
        if (!lock.error().isEmpty()) {
            err() << "h8ctl: " << lock.error() << "\n";
        } else {
            err() << "h8ctl: "
                  << Text::tr(
                         "the H8 is in use by process %1, which h8ctl cannot reach over the "
                         "session bus")
                         .arg(lock.holder().value_or(0))
                  << "\n";
        }
        return kExitNoDevice;
    }
    if (!command->needs.anything()) return (*action)(session);
    Environment environment(o);
    if (const std::optional<int> failed = environment.open(command->needs, session)) return *failed;
    return environment.finish((*action)(session));
}

}  // namespace h8::cli
