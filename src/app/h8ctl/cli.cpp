#include "cli.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "core/device_controls.h"
#include "core/share_helper.h"
#include "core/usb_session.h"
#include "core/vendor_requests.h"
#include "emulated/emulated_usb_transport.h"
#include "platform/diagnostics.h"
#include "platform/libusb_transport.h"
#include "platform/paths.h"
#include "udev_rule.h"

namespace h8::cli {
namespace {

constexpr const char* kUsage =
    R"(Usage: h8ctl [--simulate[=STATE_FILE]] [--trace] [--json] COMMAND [ARGS]

Controls an H8 audio interface over USB.

Commands:
  status                         show the device, its inputs, outputs and mutes
  mute input1|input2|hp on|off   mute or unmute an input or the headphones
  otg-volume PERCENT             set the OTG output volume (0-100)
  udev-rule                      print the udev rule that gives the logged-in user access
  sim-set CONTROL VALUE          turn a physical control of the emulated H8 (needs --simulate)
                                 CONTROL: gain1 gain2 hp-level (code 0-255),
                                 48v1 48v2 inst1 inst2 type1 type2 otg (on|off)

Options:
  --simulate[=STATE_FILE]  use the emulated H8 instead of USB; its state is kept in
                           STATE_FILE (default: <config folder>/emulated-h8.json)
  --trace                  print every control transfer to standard error
  --json                   print results as JSON
  -h, --help               show this help

Exit codes: 0 success, 1 usage error, 2 no device or device unavailable, 4 I/O error.
)";

struct Options {
    bool simulate = false;
    QString stateFile;
    bool trace = false;
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
    err() << "h8ctl: " << message << "\n"
          << "Try 'h8ctl --help'.\n";
    err().flush();
    return kExitUsage;
}

int ioError() {
    err() << "h8ctl: the H8 did not answer a request (I/O error)\n";
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
    const auto onOff = [](int v) { return v == 1 ? "on" : "off"; };
    out() << "Device:            " << store.deviceName << "\n";
    out() << "Serial number:     " << store.deviceSn << "\n";
    out() << "Firmware:          " << store.deviceVersion << "\n";
    for (int n = 0; n < 2; ++n) {
        const Input& i = inputs[n];
        out() << "Input " << n + 1 << ":           " << QString::number(i.gain, 'f', 1)
              << " dB, 48V " << onOff(i.phantom) << ", instrument " << onOff(i.instrument)
              << ", input type " << i.type << ", " << (i.muted == 1 ? "muted" : "not muted")
              << "\n";
    }
    out() << "Headphones:        level " << QString::number(store.micOutVolume, 'f', 1) << ", "
          << (hpMute == 1 ? "muted" : "not muted") << "\n";
    out() << "OTG:               " << (otg == 1 ? "connected" : "not connected")
          << ", output volume " << otgPercent << " %\n";
    return kExitOk;
}

enum class MuteTarget { Input1, Input2, Headphones };

struct MuteCommand {
    MuteTarget target;
    bool on;
};

std::optional<MuteCommand> parseMute(const Options& o, int* exitCode) {
    if (o.command.size() != 3) {
        *exitCode = usageError("mute needs a target (input1, input2 or hp) and on|off");
        return std::nullopt;
    }
    const QString target = o.command[1];
    const std::optional<bool> on = parseOnOff(o.command[2]);
    if (!on) {
        *exitCode = usageError("mute takes on or off, not '" + o.command[2] + "'");
        return std::nullopt;
    }
    if (target == QLatin1String("input1")) return MuteCommand{MuteTarget::Input1, *on};
    if (target == QLatin1String("input2")) return MuteCommand{MuteTarget::Input2, *on};
    if (target == QLatin1String("hp")) return MuteCommand{MuteTarget::Headphones, *on};
    *exitCode = usageError("mute target must be input1, input2 or hp, not '" + target + "'");
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
    if (o.command.size() != 3) return usageError("sim-set needs a control and a value");
    const QString control = o.command[1], value = o.command[2];
    if (control == "gain1" || control == "gain2" || control == "hp-level") {
        const std::optional<int> code = parseInt(value, 0, 255);
        if (!code) return usageError(control + " takes a code from 0 to 255, not '" + value + "'");
        if (control == "hp-level")
            model.setHeadphoneLevelCode(static_cast<uint8_t>(*code));
        else
            model.setGainCode(control.back().digitValue(), static_cast<uint8_t>(*code));
        return kExitOk;
    }
    const std::optional<bool> on = parseOnOff(value);
    if (!on) return usageError(control + " takes on or off, not '" + value + "'");
    if (control == "otg") {
        model.setOtgPlugged(*on);
    } else if (control == "48v1" || control == "48v2") {
        model.setPhantomPower(control.back().digitValue(), *on);
    } else if (control == "inst1" || control == "inst2") {
        model.setInstrumentMode(control.back().digitValue(), *on);
    } else if (control == "type1" || control == "type2") {
        model.setInputType(control.back().digitValue(), *on);
    } else {
        return usageError("unknown control '" + control + "'");
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
            out() << kUsage;
            *exitCode = kExitOk;
            return std::nullopt;
        } else if (a == "--simulate") {
            o.simulate = true;
        } else if (a.startsWith("--simulate=")) {
            o.simulate = true;
            o.stateFile = a.mid(QStringLiteral("--simulate=").size());
            if (o.stateFile.isEmpty()) {
                *exitCode = usageError("--simulate= needs a file name");
                return std::nullopt;
            }
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--json") {
            o.json = true;
        } else if (a.startsWith('-')) {
            *exitCode = usageError("unknown option '" + a + "'");
            return std::nullopt;
        } else {
            o.command.append(a);
        }
    }
    if (o.command.isEmpty()) {
        *exitCode = usageError("no command given");
        return std::nullopt;
    }
    return o;
}

}  // namespace

int run(const QStringList& arguments) {
    int exitCode = kExitOk;
    const std::optional<Options> parsed = parse(arguments, &exitCode);
    if (!parsed) return exitCode;
    const Options& o = *parsed;
    const QString command = o.command.first();

    // Diagnostics go to stderr so that stdout holds only results. The panel owns the log file.
    setDiagnosticsStream(stderr);
    NorvShareHelper::disableLogFile();

    if (command == "udev-rule") {
        if (o.command.size() != 1) return usageError("udev-rule takes no arguments");
        out() << kUdevRule;
        return kExitOk;
    }

    // Check the arguments before anything is sent.
    std::optional<int> percent;
    std::optional<MuteCommand> muteCommand;
    if (command == "status") {
        if (o.command.size() != 1) return usageError("status takes no arguments");
    } else if (command == "otg-volume") {
        if (o.command.size() != 2) return usageError("otg-volume needs one PERCENT from 0 to 100");
        percent = parseInt(o.command[1], 0, 100);
        if (!percent)
            return usageError("otg-volume takes a whole PERCENT from 0 to 100, not '" +
                              o.command[1] + "'");
    } else if (command == "sim-set") {
        if (!o.simulate) return usageError("sim-set works only with --simulate");
    } else if (command == "mute") {
        muteCommand = parseMute(o, &exitCode);
        if (!muteCommand) return exitCode;
    } else {
        return usageError("unknown command '" + command + "'");
    }

    if (o.trace) {
        setControlTraceSink([](const std::string& line) {
            std::fprintf(stderr, "%s\n", line.c_str());
            std::fflush(stderr);
        });
    }

    std::unique_ptr<UsbTransport> transport;
    emulated::EmulatedUsbTransport* sim = nullptr;
    QString stateFile;
    if (o.simulate) {
        auto emulatedTransport = std::make_unique<emulated::EmulatedUsbTransport>();
        sim = emulatedTransport.get();
        stateFile = o.stateFile.isEmpty() ? configDir() + "/emulated-h8.json" : o.stateFile;
        QString error;
        if (!sim->model().loadOrCreate(stateFile, &error)) {
            err() << "h8ctl: " << error << "\n";
            return kExitNoDevice;
        }
        // H8_SIMULATE_FAULT=stall|timeout makes the emulated H8 fail every request, to try
        // the failure paths by hand and in tests.
        const QByteArray fault = qgetenv("H8_SIMULATE_FAULT");
        if (fault == "stall") sim->model().setFault(emulated::EmulatedH8::Fault::Stall);
        if (fault == "timeout") sim->model().setFault(emulated::EmulatedH8::Fault::Timeout);
        sim->plug();
        transport = std::move(emulatedTransport);
    } else {
        transport = std::make_unique<LibusbTransport>();
    }

    const auto saveSimulation = [&](int code) {
        QString error;
        if (sim && !sim->model().save(stateFile, &error)) {
            err() << "h8ctl: cannot save the emulated H8 state: " << error << "\n";
            return code == kExitOk ? kExitIoError : code;
        }
        return code;
    };

    if (command == "sim-set") return saveSimulation(simSet(o, sim->model()));

    if (!startUSBMonitoring(*transport)) {
        err() << "h8ctl: USB access could not start\n";
        return kExitNoDevice;
    }
    if (!usbDeviceIsAttached()) {
        err() << "h8ctl: no H8 found (USB 309c:0018)\n";
        stopUSBMonitoring();
        return kExitNoDevice;
    }

    int code = kExitOk;
    if (command == "status")
        code = status(o);
    else if (command == "mute")
        code = mute(*muteCommand);
    else if (command == "otg-volume")
        code = otgVolume(o, *percent);
    stopUSBMonitoring();
    out().flush();
    err().flush();
    return saveSimulation(code);
}

}  // namespace h8::cli
