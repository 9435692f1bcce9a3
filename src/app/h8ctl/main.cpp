#include <QCoreApplication>

#include "cli.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("h8ctl"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    return h8::cli::run(arguments);
}
