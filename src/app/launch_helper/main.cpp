// H8LaunchHelper: the autostart entry runs this at login; see launch_helper.h.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>

#include "launch_helper.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("H8LaunchHelper"));
    // Installed, the helper is a private program and the panel is in the programs folder; in a
    // build folder both are built side by side.
    const QString dir = QCoreApplication::applicationDirPath();
    const QString mainFolder =
        QDir(dir) == QDir(QStringLiteral(H8_HELPER_DIR)) ? QStringLiteral(H8_INSTALL_BINDIR) : dir;
    h8::LaunchHelper helper(mainFolder, QDBusConnection::sessionBus());
    if (helper.launchMainApplication() == h8::LaunchHelper::Next::Quit) return 0;
    return QCoreApplication::exec();
}
