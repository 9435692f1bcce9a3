// h8-usb-harness: serves one emulated H8 through umockdev to an unmodified program run as its
// child, so that a program's real libusb path can be tested end to end.
//
//   umockdev-wrapper h8-usb-harness [--state FILE] [--save FILE] [--unplug-after MS]
//                                   [--replug-after MS] -- PROGRAM [ARGS...]
//
// --state loads the emulated H8's state from FILE (missing: factory state); --save writes its
// state to FILE after the child has finished; --unplug-after / --replug-after unplug and plug
// the H8 in again that many milliseconds after the child started. The exit code is the child's.

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#include "emulated/emulated_h8.h"
#include "emulated/umockdev/umockdev_h8_bed.h"

int main(int argc, char** argv) {
    if (!h8::emulated::UmockdevH8Bed::preloadActive()) {
        std::fprintf(stderr, "h8-usb-harness: run me under umockdev-wrapper\n");
        return 125;
    }
    h8::emulated::UmockdevH8Bed bed;  // before anything could initialise libusb
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();

    QString stateFile, saveFile;
    int unplugAfter = -1, replugAfter = -1;
    while (!args.isEmpty() && args.first() != "--") {
        const QString option = args.takeFirst();
        if ((option == "--state" || option == "--save") && !args.isEmpty()) {
            (option == "--state" ? stateFile : saveFile) = args.takeFirst();
        } else if (option == "--unplug-after" && !args.isEmpty()) {
            unplugAfter = args.takeFirst().toInt();
        } else if (option == "--replug-after" && !args.isEmpty()) {
            replugAfter = args.takeFirst().toInt();
        } else {
            std::fprintf(stderr, "h8-usb-harness: unknown option %s\n", qPrintable(option));
            return 125;
        }
    }
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: h8-usb-harness [--state FILE] [--save FILE] -- PROGRAM [ARGS...]\n");
        return 125;
    }
    args.removeFirst();  // "--"

    h8::emulated::EmulatedH8 model;
    QString error;
    if (!stateFile.isEmpty() && !model.loadOrCreate(stateFile, &error)) {
        std::fprintf(stderr, "h8-usb-harness: %s\n", qPrintable(error));
        return 125;
    }
    bed.plug(1, &model);

    // The child inherits $UMOCKDEV_DIR and the preload; its ioctls are answered here.
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setInputChannelMode(QProcess::ForwardedInputChannel);
    child.start(args.takeFirst(), args);
    if (!child.waitForStarted(10000)) {
        std::fprintf(stderr, "h8-usb-harness: cannot start the program\n");
        return 125;
    }
    if (unplugAfter >= 0) QTimer::singleShot(unplugAfter, [&bed] { bed.unplug(1); });
    if (replugAfter >= 0) QTimer::singleShot(replugAfter, [&bed, &model] { bed.plug(1, &model); });
    QObject::connect(&child, &QProcess::finished, &app, &QCoreApplication::quit);
    if (child.state() != QProcess::NotRunning) app.exec();
    bed.unplug(1);
    if (!saveFile.isEmpty() && !model.save(saveFile, &error)) {
        std::fprintf(stderr, "h8-usb-harness: %s\n", qPrintable(error));
        return 125;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 126;
}
