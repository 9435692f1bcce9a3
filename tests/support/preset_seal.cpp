// preset_seal open SEALED JSON | seal JSON SEALED
// Opens a preset file into its JSON text, or seals JSON text into a preset file, for tests that
// are not written in C++ (they build presets of other models and broken ones from a real one).
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

#include "core/preset_file.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4 || (args[1] != "open" && args[1] != "seal")) {
        std::fprintf(stderr, "usage: preset_seal open SEALED JSON | seal JSON SEALED\n");
        return 1;
    }
    QFile in(args[2]);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "preset_seal: cannot read %s\n", qPrintable(args[2]));
        return 1;
    }
    QString error;
    const std::optional<QByteArray> result =
        args[1] == "open" ? h8::NorvExportFileHelper::open(in.readAll(), &error)
                          : h8::NorvExportFileHelper::seal(in.readAll(), &error);
    QFile out(args[3]);
    if (!result || !out.open(QIODevice::WriteOnly) || out.write(*result) != result->size()) {
        std::fprintf(stderr, "preset_seal: %s\n",
                     qPrintable(error.isEmpty() ? "cannot write" : error));
        return 1;
    }
    return 0;
}
