// H8LaunchHelper: the autostart entry runs this at login; see launch_helper.h.
#include <QCoreApplication>
#include <QDBusConnection>

#include "launch_helper.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("H8LaunchHelper"));
    h8::LaunchHelper helper(QCoreApplication::applicationDirPath(), QDBusConnection::sessionBus());
    if (helper.launchMainApplication() == h8::LaunchHelper::Next::Quit) return 0;
    return QCoreApplication::exec();
}
