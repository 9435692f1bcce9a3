#include "app_auto_start_utils.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#include "app/common/identifiers.h"
#include "platform/atomic_file.h"

namespace h8 {

namespace {

void printLine(const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QString autostartFolder() {
    // An XDG_CONFIG_HOME that is empty or relative is invalid and must be ignored.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) base = QDir::homePath() + "/.config";
    return base + "/autostart";
}

QString busError(const QDBusConnection& bus) {
    const QString reason = bus.lastError().message();
    return reason.isEmpty() ? QStringLiteral("not connected") : reason;
}

QString entryPath(const AppAutoStartUtils::Environment& env) {
    return env.autostartDir + '/' + AppAutoStartUtils::entryFileName();
}

void registerLoginItem(const AppAutoStartUtils::Environment& env, bool enabled = true) {
    QString error;
    if (writeFileAtomically(entryPath(env),
                            AppAutoStartUtils::desktopEntry(env.helperPath, enabled), &error)) {
        env.print(QStringLiteral("auto start register ok"));
    } else {
        env.print(error);
    }
}

void unregisterLoginItem(const AppAutoStartUtils::Environment& env) {
    QFile entry(env.autostartDir + '/' + AppAutoStartUtils::entryFileName());
    // No entry means nothing starts at login, which is what was asked for.
    if (!entry.exists() || entry.remove()) {
        env.print(QStringLiteral("auto start unregister ok"));
    } else {
        env.print(
            QStringLiteral("cannot remove %1: %2").arg(entry.fileName(), entry.errorString()));
    }
}

// A running helper owns its identifier on the bus; the name has at most one owner, so the
// broadcast goes out at most once however many helpers were started.
void stopRunningHelper(const AppAutoStartUtils::Environment& env) {
    QDBusConnection bus = env.connectBus();
    if (!bus.isConnected()) {
        env.print(QStringLiteral("no D-Bus session bus (%1): a running H8LaunchHelper is not "
                                 "asked to quit")
                      .arg(busError(bus)));
        return;
    }
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(ids::kLaunchHelperId))) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(QString::fromLatin1(ids::kTerminateSignalPath),
                                   QString::fromLatin1(ids::kTerminateSignalInterface),
                                   QString::fromLatin1(ids::kTerminateSignalName));
    signal << QString::fromLatin1(ids::kMainAppId);
    if (!bus.send(signal))
        env.print(QStringLiteral("cannot send the quit signal: %1").arg(busError(bus)));
}

}  // namespace

QString AppAutoStartUtils::helperPathFor(const QString& programDir) {
    const QString helper = QString::fromLatin1(ids::kLaunchHelperExecutableName);
    return QDir(programDir) == QDir(QStringLiteral(H8_INSTALL_BINDIR))
               ? QStringLiteral(H8_INSTALL_LIBEXECDIR) + '/' + helper
               : programDir + '/' + helper;
}

AppAutoStartUtils::Environment AppAutoStartUtils::defaultEnvironment() {
    Environment env;
    // Installed, the helper lives in the private executables folder; in a build folder it is
    // built beside the main program.
    env.helperPath = helperPathFor(QCoreApplication::applicationDirPath());
    env.autostartDir = autostartFolder();
    env.connectBus = [] { return QDBusConnection::sessionBus(); };
    env.print = printLine;
    return env;
}

void AppAutoStartUtils::setAutoStart(bool on) {
    setAutoStart(on, defaultEnvironment());
}

void AppAutoStartUtils::setAutoStart(bool on, const Environment& env) {
    if (!QFileInfo::exists(env.helperPath)) {
        env.print(QStringLiteral("launcherApp no exist"));
        env.print('(' + env.helperPath + ')');
        return;
    }
    if (on) {
        registerLoginItem(env);
    } else {
        unregisterLoginItem(env);
    }
    // Registration failures were printed above; the running helper is stopped regardless.
    stopRunningHelper(env);
}

bool AppAutoStartUtils::isDisabledEntry(const QByteArray& entry) {
    // Only the keys of the [Desktop Entry] group count; values are compared as desktop
    // settings write them.
    bool mainGroup = false;
    for (const QByteArray& raw : entry.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            mainGroup = line == "[Desktop Entry]";
        } else if (mainGroup) {
            const qsizetype eq = line.indexOf('=');
            if (eq < 0) continue;
            const QByteArray key = line.left(eq).trimmed(), value = line.mid(eq + 1).trimmed();
            if (key == "Hidden" && value == "true") return true;
            if (key == "X-GNOME-Autostart-enabled" && value == "false") return true;
        }
    }
    return false;
}

bool AppAutoStartUtils::isRegistered(const Environment& env) {
    QFile entry(entryPath(env));
    if (!entry.open(QIODevice::ReadOnly)) return false;
    return !isDisabledEntry(entry.read(64 * 1024));
}

void AppAutoStartUtils::registerAtLaunch(const Environment& env) {
    QFile entry(entryPath(env));
    if (entry.open(QIODevice::ReadOnly) && isDisabledEntry(entry.read(64 * 1024))) {
        // The user turned it off (in our menu or in the desktop's settings): keep it off.
        env.print(QStringLiteral("auto start disabled by the user"));
        stopRunningHelper(env);
        return;
    }
    setAutoStart(true, env);
}

void AppAutoStartUtils::setUserChoice(bool on, const Environment& env) {
    if (!QFileInfo::exists(env.helperPath)) {
        env.print(QStringLiteral("launcherApp no exist"));
        env.print('(' + env.helperPath + ')');
        return;
    }
    // Off is an entry that says so, not a missing one: the registration at the next launch
    // would bring a missing one back.
    registerLoginItem(env, on);
}

QString AppAutoStartUtils::entryFileName() {
    return QString::fromLatin1(ids::kLaunchHelperId) + QStringLiteral(".desktop");
}

QString AppAutoStartUtils::quoteExecArgument(const QString& path) {
    // Layer 1, the Exec argument: inside double quotes, '"', '`', '$' and '\' take a backslash;
    // '%' would start a field code and is doubled.
    QString quoted;
    for (QChar c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    // Layer 2, the string value of the key.
    return escapeStringValue('"' + quoted + '"');
}

QString AppAutoStartUtils::escapeStringValue(const QString& text) {
    // Backslashes and control characters are escaped so the value stays on one line.
    QString value;
    for (QChar c : text) {
        if (c == '\\') {
            value += QStringLiteral("\\\\");
        } else if (c == '\n') {
            value += QStringLiteral("\\n");
        } else if (c == '\t') {
            value += QStringLiteral("\\t");
        } else if (c == '\r') {
            value += QStringLiteral("\\r");
        } else {
            value += c;
        }
    }
    return value;
}

QByteArray AppAutoStartUtils::desktopEntry(const QString& helperPath, bool enabled) {
    QString text;
    text += QStringLiteral("[Desktop Entry]\n");
    text += QStringLiteral("Type=Application\n");
    text += QStringLiteral("Name=H8 Controller\n");
    text += QStringLiteral("Comment=Starts H8 Controller at login\n");
    text += QStringLiteral("Exec=") + quoteExecArgument(helperPath) + '\n';
    // The session skips the entry when the helper is gone (an entry left behind by a removal
    // of the package, which cannot reach the users' folders).
    text += QStringLiteral("TryExec=") + escapeStringValue(helperPath) + '\n';
    text += QStringLiteral("Terminal=false\n");
    text += QStringLiteral("NoDisplay=true\n");
    if (enabled) {
        text += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    } else {
        text += QStringLiteral("Hidden=true\n");
        text += QStringLiteral("X-GNOME-Autostart-enabled=false\n");
    }
    return text.toUtf8();
}

}  // namespace h8
