// h8-usb-harness: serves one emulated H8 through umockdev to an unmodified program run as its
// child, so that a program's real libusb path can be tested end to end, with the faults of a
// real interface and a real cable.
//
//   umockdev-wrapper h8-usb-harness [OPTIONS] -- PROGRAM [ARGS...]
//
//   --state FILE            load the emulated H8's state from FILE (missing: factory state)
//   --save FILE             write its state to FILE after the child has finished
//   --unplug-after MS       unplug the H8 MS milliseconds after the child started
//   --replug-after MS       plug it in again MS milliseconds after the child started
//   --fault KIND            from the start: stall, timeout, hang or hang@MS (as H8_SIMULATE_FAULT)
//   --on PATTERN:N:ACTION   at the N-th request matching PATTERN: stall (every request from then
//                           on stalls), timeout (none is answered), hang (each runs into its
//                           time-out) or vanish (the device is gone in the middle of the request).
//                           PATTERN is the setup packet in hex, "xx" for any byte, as a prefix
//                           ("4003xx001e00": crosspoint writes; "c0": any read). Counting starts
//                           at the first plug, or when --arm-on arms it; it fires once.
//   --arm-on TEXT:FILE      arm --on when the child prints the line TEXT, then create FILE (the
//                           child may wait for FILE, so that what follows is counted)
//   --replug-after-fault MS MS after --on fired, unplug the H8 (if it is still there), clear
//                           the fault and plug it in again, as a user pulling the cable does
//   --soak CYCLES           once the child printed a line starting with "state:", unplug and
//                           re-plug CYCLES times. Before each plug the H8 forgets its mixer (every
//                           byte changed); a cycle succeeds when the child has sent the mixer back
//                           as it was within 20 s. Prints "cycle K: fd=… rss_kb=…" twenty times
//                           and, last,
//                           "cycles=N failures=F fd_first=A fd_last=B rss_first_kb=C rss_last_kb=D"
//                           (open descriptors and resident memory of the child after the first
//                           and the last cycle), then ends the child with SIGTERM.
//
// The exit code is the child's (126 when it crashed), or 1 when a soak cycle failed.

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>

#include "emulated/emulated_h8.h"
#include "emulated/umockdev/umockdev_h8_bed.h"

namespace {

using h8::UsbSetup;
using h8::emulated::EmulatedH8;
using h8::emulated::UmockdevH8Bed;

// One --on trigger. matches() and the counters run on umockdev's worker thread.
struct Trigger {
    QList<int> pattern;  // bytes of the setup packet, -1 for any
    int count = 1;
    QString action;
    std::atomic<bool> armed{false};
    std::atomic<int> seen{0};
    std::atomic<bool> fired{false};

    static std::optional<QList<int>> parsePattern(const QString& hex) {
        if (hex.size() % 2 != 0 || hex.size() > 16) return std::nullopt;
        QList<int> bytes;
        for (qsizetype i = 0; i < hex.size(); i += 2) {
            const QString byte = hex.mid(i, 2).toLower();
            bool ok = true;
            bytes.append(byte == "xx" ? -1 : byte.toInt(&ok, 16));
            if (!ok) return std::nullopt;
        }
        return bytes;
    }
    bool matches(const UsbSetup& s) const {
        const uint8_t raw[8] = {s.requestType,
                                s.request,
                                static_cast<uint8_t>(s.value),
                                static_cast<uint8_t>(s.value >> 8),
                                static_cast<uint8_t>(s.index),
                                static_cast<uint8_t>(s.index >> 8),
                                static_cast<uint8_t>(s.length),
                                static_cast<uint8_t>(s.length >> 8)};
        for (qsizetype i = 0; i < pattern.size(); ++i) {
            if (pattern[i] >= 0 && pattern[i] != raw[i]) return false;
        }
        return true;
    }
};

int countOpenFiles(qint64 pid) {
    return static_cast<int>(QDir(QString("/proc/%1/fd").arg(pid))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

int residentKb(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toInt();
    }
    return -1;
}

// Runs the event loop until `done` holds or `ms` pass.
bool waitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

int usage(const char* why) {
    std::fprintf(stderr, "h8-usb-harness: %s\n", why);
    return 125;
}

}  // namespace

int main(int argc, char** argv) {
    if (!UmockdevH8Bed::preloadActive()) return usage("run me under umockdev-wrapper");
    UmockdevH8Bed bed;  // before anything could initialise libusb
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    QString stateFile, saveFile, fault, armText, armFile;
    int unplugAfter = -1, replugAfter = -1, replugAfterFault = -1, soakCycles = 0;
    Trigger trigger;
    bool haveTrigger = false;
    while (!args.isEmpty() && args.first() != "--") {
        const QString option = args.takeFirst();
        if (args.isEmpty()) return usage(qPrintable("missing value of " + option));
        const QString value = args.takeFirst();
        bool ok = true;
        if (option == "--state") {
            stateFile = value;
        } else if (option == "--save") {
            saveFile = value;
        } else if (option == "--unplug-after") {
            unplugAfter = value.toInt(&ok);
        } else if (option == "--replug-after") {
            replugAfter = value.toInt(&ok);
        } else if (option == "--replug-after-fault") {
            replugAfterFault = value.toInt(&ok);
        } else if (option == "--soak") {
            soakCycles = value.toInt(&ok);
            ok = ok && soakCycles > 0;
        } else if (option == "--fault") {
            fault = value;
        } else if (option == "--on") {
            const QStringList parts = value.split(':');
            const auto pattern = Trigger::parsePattern(parts.value(0));
            trigger.count = parts.value(1).toInt(&ok);
            trigger.action = parts.value(2);
            ok = ok && parts.size() == 3 && pattern && trigger.count > 0 &&
                 QStringList{"stall", "timeout", "hang", "vanish"}.contains(trigger.action);
            if (pattern) trigger.pattern = *pattern;
            haveTrigger = true;
        } else if (option == "--arm-on") {
            armText = value.section(':', 0, 0);
            armFile = value.section(':', 1);
            ok = !armText.isEmpty() && !armFile.isEmpty();
        } else {
            return usage(qPrintable("unknown option " + option));
        }
        if (!ok) return usage(qPrintable("bad value '" + value + "' of " + option));
    }
    if (args.size() < 2) return usage("usage: h8-usb-harness [OPTIONS] -- PROGRAM [ARGS...]");
    args.removeFirst();  // "--"

    EmulatedH8 model;
    QString error;
    if (!stateFile.isEmpty() && !model.loadOrCreate(stateFile, &error))
        return usage(qPrintable(error));
    if (!fault.isEmpty() && !model.setFaultFromText(fault.toUtf8()))
        return usage(qPrintable("unknown fault '" + fault + "'"));

    // The trigger acts on the worker thread, inside the request, so that the fault hits exactly
    // that request; unplugging (the uevent) and re-plugging happen on this thread.
    QObject context;
    auto afterFault = [&] {
        if (replugAfterFault < 0) return;
        QTimer::singleShot(replugAfterFault, &context, [&] {
            bed.unplug(1);
            QTimer::singleShot(200, &context, [&] {
                model.setFault(EmulatedH8::Fault::None);
                bed.plug(1, &model);
            });
        });
    };
    trigger.armed = haveTrigger && armText.isEmpty();
    bed.setRequestHook(1, [&](const UsbSetup& setup) {
        if (!trigger.armed || trigger.fired || !trigger.matches(setup)) return true;
        if (++trigger.seen < trigger.count) return true;
        trigger.fired = true;
        std::fprintf(stderr, "h8-usb-harness: %s at request %d of %s\n", qPrintable(trigger.action),
                     trigger.count,
                     qPrintable(QString("%1").arg(setup.requestType, 2, 16, QChar('0'))));
        QMetaObject::invokeMethod(&context, [&] {
            if (trigger.action == "vanish") bed.unplug(1);
            afterFault();
        });
        if (trigger.action == "vanish") return false;
        model.setFault(trigger.action == "stall"     ? EmulatedH8::Fault::Stall
                       : trigger.action == "timeout" ? EmulatedH8::Fault::Timeout
                                                     : EmulatedH8::Fault::Hang);
        return true;
    });
    bed.plug(1, &model);

    // The child inherits $UMOCKDEV_DIR and the preload; its ioctls are answered here. Its
    // standard output passes through this process, which reads it for --arm-on and --soak.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    bool ready = false;
    QObject::connect(&child, &QProcess::readyReadStandardOutput, &context, [&] {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine();
            std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
            std::fflush(stdout);
            const QString text = QString::fromUtf8(line).trimmed();
            if (text.startsWith("state:")) ready = true;
            if (!armText.isEmpty() && text == armText && !trigger.armed) {
                trigger.armed = true;
                QFile(armFile).open(QIODevice::WriteOnly);
            }
        }
    });
    child.start(args.takeFirst(), args);
    if (!child.waitForStarted(10000)) return usage("cannot start the program");
    if (unplugAfter >= 0) QTimer::singleShot(unplugAfter, &context, [&] { bed.unplug(1); });
    if (replugAfter >= 0) QTimer::singleShot(replugAfter, &context, [&] { bed.plug(1, &model); });

    int soakFailures = 0;
    if (soakCycles > 0) {
        const auto running = [&] { return child.state() == QProcess::Running; };
        const qint64 pid = child.processId();
        if (!waitUntil([&] { return ready || !running(); }, 120000) || !running()) {
            std::fprintf(stderr, "h8-usb-harness: the program never got ready\n");
            ++soakFailures;
        }
        int fdFirst = 0, fdLast = 0, rssFirst = 0, rssLast = 0, cycle = 0;
        for (cycle = 1; cycle <= soakCycles && running(); ++cycle) {
            const auto expected = model.state().mixer;
            bed.unplug(1);
            waitUntil([] { return false; }, 150);
            h8::emulated::H8State forgotten = model.state();
            for (auto& b : forgotten.mixer) b ^= 0x01;
            model.setState(forgotten);
            bed.plug(1, &model);
            if (!waitUntil([&] { return model.state().mixer == expected || !running(); }, 20000) ||
                !running()) {
                ++soakFailures;
                std::fprintf(stderr, "h8-usb-harness: cycle %d: the mixer was not sent back\n",
                             cycle);
                continue;
            }
            fdLast = countOpenFiles(pid);
            rssLast = residentKb(pid);
            if (cycle == 1) fdFirst = fdLast, rssFirst = rssLast;
            if (cycle % std::max(1, soakCycles / 20) == 0) {
                std::printf("cycle %d: fd=%d rss_kb=%d failures=%d\n", cycle, fdLast, rssLast,
                            soakFailures);
                std::fflush(stdout);
            }
        }
        if (!running()) {
            std::fprintf(stderr, "h8-usb-harness: the program ended during cycle %d\n", cycle);
            ++soakFailures;
        }
        std::printf("cycles=%d failures=%d fd_first=%d fd_last=%d rss_first_kb=%d rss_last_kb=%d\n",
                    cycle - 1, soakFailures, fdFirst, fdLast, rssFirst, rssLast);
        std::fflush(stdout);
        child.terminate();
    }

    QObject::connect(&child, &QProcess::finished, &app, &QCoreApplication::quit);
    if (child.state() != QProcess::NotRunning) app.exec();
    bed.setRequestHook(1, {});
    bed.unplug(1);
    if (!saveFile.isEmpty() && !model.save(saveFile, &error)) return usage(qPrintable(error));
    if (child.exitStatus() != QProcess::NormalExit) return 126;
    if (soakFailures > 0 && child.exitCode() == 0) return 1;
    return child.exitCode();
}
