#include "target.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include "app/common/identifiers.h"
#include "platform/paths.h"

namespace h8 {

Target Target::hardware() {
    return Target();
}

Target Target::emulated(const QString& stateFile) {
    Target t;
    t.emulated_ = true;
    const QString file = stateFile.isEmpty() ? configDir() + "/emulated-h8.json" : stateFile;
    t.stateFile_ = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    return t;
}

QString Target::preferencesFile() const {
    if (!emulated_) return configDir() + "/defaults.json";
    QString base = stateFile_;
    if (base.endsWith(QLatin1String(".json"))) base.chop(5);
    return base + ".defaults.json";
}

QString Target::logFileName() const {
    return emulated_ ? QStringLiteral("myapp-demo.log") : QStringLiteral("myapp.log");
}

QString Target::busName() const {
    const QString name = QString::fromLatin1(ids::kMainAppId);
    return emulated_ ? name + ".Demo" : name;
}

QString Target::objectPath() const {
    return '/' + busName().replace('.', '/');
}

QString Target::panelLockFile() const {
    return runtimeFolder() + (emulated_ ? "/h8-controller-demo.lock" : "/h8-controller.lock");
}

QString Target::interfaceLockFile() const {
    if (!emulated_) return runtimeFolder() + "/h8-interface.lock";
    // One lock per state file: two demos of different files do not meet.
    const QByteArray hash =
        QCryptographicHash::hash(stateFile_.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtimeFolder() + "/h8-emulated-" + QString::fromLatin1(hash) + ".lock";
}

QString runtimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? configDir() : runtime;
}

}  // namespace h8
