#include "launch_helper.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>
#include <utility>

#include "app/common/identifiers.h"

namespace h8 {

namespace {

void printLine(const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QString mainId() {
    return QString::fromLatin1(ids::kMainAppId);
}

}  // namespace

LaunchHelper::LaunchHelper(QString folder, QDBusConnection bus)
    : folder_(std::move(folder)), bus_(std::move(bus)) {}

LaunchHelper::Next LaunchHelper::launchMainApplication() {
    if (!bus_.isConnected()) {
        // Without a bus nobody could ever tell this helper to quit, so it only starts the
        // main program and leaves.
        const QString reason = bus_.lastError().message();
        printLine(QStringLiteral("no D-Bus session bus (%1): starting %2 without checking whether "
                                 "it runs")
                      .arg(reason.isEmpty() ? QStringLiteral("not connected") : reason,
                           QString::fromLatin1(ids::kMainExecutableName)));
        openMainApplication();
        return Next::Quit;
    }

    if (bus_.interface()->isServiceRegistered(mainId())) return Next::Quit;

    // Subscribe before taking our name: whoever sees the helper on the bus may send the quit
    // signal right away, and the bus handles our requests in order.
    if (!bus_.connect(QString(), QString::fromLatin1(ids::kTerminateSignalPath),
                      QString::fromLatin1(ids::kTerminateSignalInterface),
                      QString::fromLatin1(ids::kTerminateSignalName), QStringList{mainId()},
                      QStringLiteral("s"), this, SLOT(terminate(QString)))) {
        printLine(
            QStringLiteral("cannot listen for %1: %2")
                .arg(QString::fromLatin1(ids::kTerminateSignalName), bus_.lastError().message()));
    }
    if (!bus_.registerService(QString::fromLatin1(ids::kLaunchHelperId))) {
        // Another helper holds the name and does this job already.
        printLine(QStringLiteral("%1 already runs").arg(QString::fromLatin1(ids::kLaunchHelperId)));
        return Next::Quit;
    }

    openMainApplication();
    return Next::Wait;
}

void LaunchHelper::openMainApplication() {
    const QString program = folder_ + '/' + QString::fromLatin1(ids::kMainExecutableName);
    if (!QFileInfo::exists(program)) {
        printLine(QStringLiteral("bundleId not found(") + mainId());
        return;
    }
    QProcess process;
    process.setProgram(program);
    // At login the panel starts in the background: its window shows when the user asks.
    process.setArguments({QStringLiteral("--background")});
    process.setWorkingDirectory(folder_);
    if (!process.startDetached()) {
        printLine(QStringLiteral("cannot start %1: %2").arg(program, process.errorString()));
    }
}

void LaunchHelper::terminate(const QString& sender) {
    // The bus already filters on the first argument; checked again so that a match rule the
    // bus ignored cannot stop the helper on someone else's behalf.
    if (sender != mainId()) return;
    QCoreApplication::quit();
}

}  // namespace h8
