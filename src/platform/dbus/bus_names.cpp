#include "platform/dbus/bus_names.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>

namespace h8 {

NameClaim claimBusName(QDBusConnection bus, const QString& name, QString* error) {
    if (!bus.isConnected()) {
        *error = bus.lastError().message();
        return NameClaim::failed;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        *error = reply.error().message();
        return NameClaim::failed;
    }
    return reply.value() == QDBusConnectionInterface::ServiceRegistered ? NameClaim::owned
                                                                        : NameClaim::taken;
}

bool activateRunningApplication(QDBusConnection bus, const QString& name, const QString& path,
                                int timeoutMs, QString* error) {
    QVariantMap platformData;
    const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    if (!token.isEmpty()) platformData.insert(QStringLiteral("activation-token"), token);
    const QString startupId = qEnvironmentVariable("DESKTOP_STARTUP_ID");
    if (!startupId.isEmpty()) platformData.insert(QStringLiteral("desktop-startup-id"), startupId);
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, path, QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
    call << platformData;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = reply.errorMessage();
        return false;
    }
    return true;
}

void emitPropertiesChanged(QDBusConnection bus, const QString& path, const QString& interface,
                           const QVariantMap& changed) {
    if (changed.isEmpty()) return;
    QDBusMessage signal =
        QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    bus.send(signal);
}

void registerBusTypes() {
    qRegisterMetaType<QDBusArgument>();
    qRegisterMetaType<QDBusVariant>();
    qRegisterMetaType<QDBusObjectPath>();
    qRegisterMetaType<QDBusSignature>();
    qRegisterMetaType<QDBusUnixFileDescriptor>();
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QList<QDBusObjectPath>>();
    qRegisterMetaType<QList<QDBusSignature>>();
    qRegisterMetaType<QList<QDBusUnixFileDescriptor>>();
    qRegisterMetaType<QList<QDBusVariant>>();
}

}  // namespace h8
