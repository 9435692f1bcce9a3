#include <QCoreApplication>

#include "cli.h"
#include "platform/dbus/bus_names.h"
#include "platform/translations.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    h8::registerBusTypes();
    h8::installTranslations(app, h8::uiLanguage());
    QCoreApplication::setApplicationName(QStringLiteral("h8ctl"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return h8::cli::run(arguments);
}
